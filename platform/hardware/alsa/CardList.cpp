#include "platform/hardware/alsa/CardList.h"

#include <alsa/asoundlib.h>

#include <fstream>
#include <sstream>

namespace corvane::hw::alsa {

namespace {

bool hasStream(snd_ctl_t* control, int device, snd_pcm_stream_t stream, std::string* name) {
    snd_pcm_info_t* info = nullptr;
    snd_pcm_info_alloca(&info);
    snd_pcm_info_set_device(info, static_cast<unsigned>(device));
    snd_pcm_info_set_subdevice(info, 0);
    snd_pcm_info_set_stream(info, stream);
    if (snd_ctl_pcm_info(control, info) < 0)
        return false;
    if (name && name->empty())
        *name = snd_pcm_info_get_name(info);
    return true;
}

} // namespace

std::optional<PcmHolder> pcmHolder(int cardIndex, int device, char direction) {
    std::ifstream status("/proc/asound/card" + std::to_string(cardIndex) + "/pcm" + std::to_string(device) +
                         direction + "/sub0/status");
    std::string line;
    while (std::getline(status, line)) {
        // "owner_pid   : 1234"
        if (line.rfind("owner_pid", 0) != 0)
            continue;
        const auto colon = line.find(':');
        if (colon == std::string::npos)
            return std::nullopt;
        PcmHolder holder;
        std::istringstream(line.substr(colon + 1)) >> holder.pid;
        if (holder.pid <= 0)
            return std::nullopt;
        std::ifstream comm("/proc/" + std::to_string(holder.pid) + "/comm");
        std::getline(comm, holder.program);
        return holder;
    }
    return std::nullopt;
}

std::vector<CardInfo> SystemCardList::cards() const {
    std::vector<CardInfo> result;
    int index = -1;
    while (snd_card_next(&index) == 0 && index >= 0) {
        snd_ctl_t* control = nullptr;
        const std::string controlName = "hw:" + std::to_string(index);
        if (snd_ctl_open(&control, controlName.c_str(), SND_CTL_NONBLOCK) < 0)
            continue; // gone again, or not ours to open
        CardInfo card;
        card.index = index;
        snd_ctl_card_info_t* info = nullptr;
        snd_ctl_card_info_alloca(&info);
        if (snd_ctl_card_info(control, info) == 0) {
            card.id = snd_ctl_card_info_get_id(info);
            card.name = snd_ctl_card_info_get_name(info);
        }
        int device = -1;
        while (!card.id.empty() && snd_ctl_pcm_next_device(control, &device) == 0 && device >= 0) {
            PcmDeviceInfo pcm;
            pcm.device = device;
            pcm.playback = hasStream(control, device, SND_PCM_STREAM_PLAYBACK, &pcm.name);
            pcm.capture = hasStream(control, device, SND_PCM_STREAM_CAPTURE, &pcm.name);
            if (!pcm.playback && !pcm.capture)
                continue;
            pcm.holder = pcm.playback ? pcmHolder(index, device, 'p') : std::nullopt;
            if (!pcm.holder && pcm.capture)
                pcm.holder = pcmHolder(index, device, 'c');
            card.devices.push_back(std::move(pcm));
        }
        snd_ctl_close(control);
        if (!card.id.empty())
            result.push_back(std::move(card));
    }
    return result;
}

} // namespace corvane::hw::alsa
