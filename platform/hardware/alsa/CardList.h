#pragma once
// The sound cards the system has, and which of their PCM devices someone
// holds open. Behind an interface so that tests can plug and unplug cards.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvane::hw::alsa {

// A process that has a PCM open, from /proc/asound/cardN/pcmDx/sub0/status.
struct PcmHolder {
    int pid = 0;
    std::string program; // /proc/PID/comm, "" when it cannot be read
    friend bool operator==(const PcmHolder&, const PcmHolder&) = default;
};

struct PcmDeviceInfo {
    int device = 0;
    std::string name; // the driver's name for it ("ALC892 Analog")
    bool capture = false;
    bool playback = false;
    std::optional<PcmHolder> holder; // of either direction
    friend bool operator==(const PcmDeviceInfo&, const PcmDeviceInfo&) = default;
};

struct CardInfo {
    int index = 0;
    std::string id;   // stable across re-plugging and reboots ("PCH", "USB")
    std::string name; // "HDA Intel PCH"
    std::vector<PcmDeviceInfo> devices;
    friend bool operator==(const CardInfo&, const CardInfo&) = default;
};

class CardList {
public:
    virtual ~CardList() = default;
    // Any thread but the real-time one; quick (no PCM is opened).
    virtual std::vector<CardInfo> cards() const = 0;
    // The PCM name that opens `device` of `card` directly.
    virtual std::string pcmName(const CardInfo& card, int device) const {
        return "hw:CARD=" + card.id + ",DEV=" + std::to_string(device);
    }
};

// The kernel's cards through alsa-lib's control interface.
class SystemCardList final : public CardList {
public:
    std::vector<CardInfo> cards() const override;
};

// Who holds PCM `device` of card `cardIndex` in `direction` ('p' or 'c'), if
// anyone: read from /proc/asound.
std::optional<PcmHolder> pcmHolder(int cardIndex, int device, char direction);

} // namespace corvane::hw::alsa
