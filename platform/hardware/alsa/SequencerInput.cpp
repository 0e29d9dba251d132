// read() is the reader thread; the rest runs on the main thread.
#include "platform/hardware/alsa/SequencerInput.h"

#include "platform/hardware/alsa/LibMessages.h"
#include "platform/system/Logging.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <cerrno>
#include <optional>

namespace corvane::hw::alsa {

namespace {

constexpr unsigned kSourceCaps = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;

} // namespace

SequencerInput::SequencerInput(std::string sequencer, std::size_t ringCapacity)
    : sequencerName_(std::move(sequencer)), ring_(std::make_shared<MidiEventRing>(ringCapacity)) {
    // A sequencer that does not open is ours to report, once.
    quietAlsaLib();
}

SequencerInput::~SequencerInput() {
    if (reader_.joinable()) {
        stopping_.store(true);
        stop_.raise();
        reader_.join();
    }
    if (seq_)
        snd_seq_close(seq_);
    if (const auto overruns = overruns_.load())
        qCInfo(lcAlsa, "the sequencer's input queue overflowed %llu times: MIDI came faster than it was read",
               static_cast<unsigned long long>(overruns));
    if (const auto dropped = ring_->dropped())
        qCInfo(lcAlsa, "%llu MIDI messages from the sequencer were dropped: the audio thread took them too slowly",
               static_cast<unsigned long long>(dropped));
}

void SequencerInput::setControlInput(ControlInput* input) { input_ = input; }

bool SequencerInput::isOpen() const {
    std::lock_guard lock(handleMutex_);
    return seq_ != nullptr;
}

bool SequencerInput::open() {
    std::lock_guard lock(handleMutex_);
    if (seq_)
        return true;
    snd_seq_t* seq = nullptr;
    int err = stop_.valid() ? snd_seq_open(&seq, sequencerName_.c_str(), SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK)
                            : -EMFILE;
    int port = -1;
    if (err >= 0) {
        snd_seq_set_client_name(seq, kClientName);
        port = snd_seq_create_simple_port(seq, kPortName, SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                          SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        if (port < 0) {
            err = port;
            snd_seq_close(seq);
        }
    }
    if (err < 0) {
        if (!failureLogged_)
            qCInfo(lcAlsa, "no MIDI control through the ALSA sequencer on this machine: \"%s\" did not open (%s)",
                   sequencerName_.c_str(), snd_strerror(err));
        failureLogged_ = true;
        return false;
    }
    seq_ = seq;
    client_ = snd_seq_client_id(seq);
    port_ = port;
    reader_ = std::thread([this] { read(); });
    qCInfo(lcAlsa, "MIDI control through the ALSA sequencer: port %d:%d \"%s\"", client_, port_, kPortName);
    return true;
}

std::vector<std::string> SequencerInput::sources() {
    std::vector<std::string> names;
    if (!open())
        return names;
    std::lock_guard lock(handleMutex_);
    forEachSource([&names](const std::string& name, Address) { names.push_back(name); });
    return names;
}

void SequencerInput::forEachSource(const std::function<void(const std::string&, Address)>& visit) const {
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(seq_, client) >= 0) {
        const int id = snd_seq_client_info_get_client(client);
        if (id == SND_SEQ_CLIENT_SYSTEM || id == client_)
            continue;
        snd_seq_port_info_set_client(port, id);
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(seq_, port) >= 0) {
            const unsigned caps = snd_seq_port_info_get_capability(port);
            if ((caps & kSourceCaps) == kSourceCaps && !(caps & SND_SEQ_PORT_CAP_NO_EXPORT))
                visit(std::string(snd_seq_client_info_get_name(client)) + ':' + snd_seq_port_info_get_name(port),
                      Address{id, snd_seq_port_info_get_port(port)});
        }
    }
}

void SequencerInput::connect(const std::string& name, bool on) {
    std::lock_guard lock(handleMutex_);
    if (!seq_ || name.empty())
        return;
    std::optional<Address> found;
    forEachSource([&](const std::string& candidate, Address address) {
        if (candidate == name && !found)
            found = address;
    });
    if (!found)
        return;
    const Address source = *found;
    // Already connected (by us before, or by the user) answers EBUSY: as good.
    const int err = on ? snd_seq_connect_from(seq_, port_, source.client, source.port)
                       : snd_seq_disconnect_from(seq_, port_, source.client, source.port);
    if (err < 0 && err != -EBUSY && on)
        qCWarning(lcAlsa, "the MIDI input \"%s\" could not be connected to \"%s\": %s", name.c_str(), kPortName,
                  snd_strerror(err));
}

void SequencerInput::setSource(std::string source) {
    if (source == source_)
        return;
    connect(source_, false);
    source_ = std::move(source);
    connect(source_, true);
}

SequencerInput::Feed SequencerInput::feedForStart() {
    // The ring is drained whether or not a sequencer opened: empty, it costs a look.
    if (open())
        connect(source_, true);
    if (!input_)
        return {};
    return {ring_, input_};
}

void SequencerInput::read() {
    snd_midi_event_t* decoder = nullptr;
    if (snd_midi_event_new(64, &decoder) < 0)
        return;
    // A status byte in every message: the ring carries whole messages.
    snd_midi_event_no_status(decoder, 1);
    std::vector<pollfd> fds;
    {
        std::lock_guard lock(handleMutex_);
        fds.resize(static_cast<std::size_t>(std::max(0, snd_seq_poll_descriptors_count(seq_, POLLIN))));
        snd_seq_poll_descriptors(seq_, fds.data(), static_cast<unsigned>(fds.size()), POLLIN);
    }
    fds.push_back(pollfd{stop_.fd(), POLLIN, 0});
    while (!stopping_.load()) {
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            qCWarning(lcAlsa, "MIDI control through the ALSA sequencer ends: poll failed (%s)", strerror(errno));
            break;
        }
        if (fds.back().revents & POLLIN)
            break;
        std::lock_guard lock(handleMutex_);
        for (;;) {
            snd_seq_event_t* event = nullptr;
            const int got = snd_seq_event_input(seq_, &event);
            if (got == -ENOSPC) {
                overruns_.fetch_add(1);
                continue;
            }
            if (got < 0 || !event)
                break; // -EAGAIN: all read
            if (event->type == SND_SEQ_EVENT_SYSEX)
                continue;
            unsigned char bytes[16];
            snd_midi_event_reset_decode(decoder);
            const long size = snd_midi_event_decode(decoder, bytes, sizeof bytes, event);
            // One event may decode to several messages (a 14-bit controller is two).
            for (long at = 0, end = 0; at < size; at = end) {
                for (end = at + 1; end < size && bytes[end] < 0x80; ++end) {
                }
                ring_->push(bytes + at, static_cast<std::size_t>(end - at));
            }
        }
    }
    snd_midi_event_free(decoder);
}

} // namespace corvane::hw::alsa
