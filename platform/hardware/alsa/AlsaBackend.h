#pragma once
// Audio devices straight from ALSA, for interfaces no JACK server runs on.
//
// Devices: one per PCM device of a sound card that can capture or play
// (hw:CARD=<id>,DEV=<n>), uid "alsa:<card id>,<n>" (the card's id string
// survives re-plugging and reboots), named after the card (and the PCM
// device, when the card has several); plus the PCMs the user names (their own
// `multi`, `route`, `jack`, ... from an asoundrc), uid "alsa-pcm:<name>". A
// named PCM that does not open is skipped with one log line.
//
// A card a JACK server (jackd, jackdbus) holds open is left out: the JACK
// backend already lists it as that server's device, and a second entry could
// only fail with "busy". It comes back by itself once the server lets go.
// A card held by any other program (a sound server, a player) stays listed,
// and starting it fails with a message naming that program.
//
// Properties: channel counts are the most the device accepts; the rate is
// settable among the device's rates from 44.1 to 192 kHz; the buffer sizes
// offered are the powers of two the device takes (its whole range when it
// takes none); a period size within the device's range becomes the nearest
// size it accepts (asked of the device when it is free, else settled at the
// start of I/O) and reads back as such. Latency: capture adds nothing beyond
// the period the engine counts; playback adds the rest of the ALSA buffer (one
// period at the default of two). The safety offset is the driver's own delay
// beyond the buffer, as snd_pcm_delay tells it after the first period (0
// before), announced as a Latency change.
//
// The list follows hot-plug events (a HotplugMonitor, udev on the "sound"
// subsystem in the program), and is looked at again every rescanInterval for
// holders coming and going. A device that fails while running (a card pulled
// mid-period: ENODEV, or a second without a period) ends its I/O and leaves
// the list at once, so the engine stops with its disconnection message. It
// comes back with the next hot-plug event, or after a scan that no longer
// finds it (a card) or cannot open it (a named PCM).
//
// MIDI control comes from the sequencer port given with setSequencer() (see
// SequencerInput.h): the I/O thread hands what waits to the control input at
// the top of every period.
//
// Threads: construct, destroy and rescan on the main thread, whose event loop
// must run for hot-plug events and losses to be handled. See IoSession.h for
// the I/O thread.

#include "platform/hardware/DeviceListBackend.h"
#include "platform/hardware/alsa/CardList.h"
#include "platform/hardware/alsa/Device.h"
#include "platform/hardware/alsa/HotplugMonitor.h"
#include "platform/system/MainThreadWakeup.h"

#include <QTimer>

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace corvane::hw {

class AlsaBackend final : public DeviceListBackend<alsa::Device> {
public:
    struct Options {
        // Null: the system's cards and udev.
        std::shared_ptr<const alsa::CardList> cards;
        std::unique_ptr<alsa::HotplugMonitor> hotplug;
        bool systemHotplug = true; // with no hotplug given: false leaves hot-plug off
        std::vector<std::string> userPcms;
        // 0: only hot-plug events and rescan() look again.
        std::chrono::milliseconds rescanInterval{2000};
    };

    AlsaBackend();
    explicit AlsaBackend(Options options);
    ~AlsaBackend() override;

    std::string name() const override { return "alsa"; }
    bool owns(ObjectId object) const override;
    std::optional<PropertyValue> get(ObjectId object, Address address) const override;
    bool set(ObjectId object, Address address, const PropertyValue& value) override;
    bool startIo(ObjectId device, IoCallback& callback, std::string& error) override;

    // Main thread: looks at the cards and named PCMs again now.
    void rescan();
    // Whether hot-plug events arrive.
    bool watchesHotplug() const { return hotplugRunning_; }
    // Xruns of the I/O running on `device` since it started.
    std::uint64_t xrunCount(ObjectId device) const;

    // "a,b , c" -> {"a", "b", "c"}.
    static std::vector<std::string> splitPcmNames(const std::string& list);

    static constexpr ObjectId kFirstId = 0x40000000;
    static constexpr ObjectId kIdRangeEnd = 0x50000000;

private:
    using Device = alsa::Device;

    void adoptCapabilities(Device& device, const alsa::PcmCapabilities& caps);
    void onHotplug();
    void onLost(ObjectId device, std::shared_ptr<alsa::IoSession> session);
    std::string busyMessage(const Device& device) const;

    std::shared_ptr<const alsa::CardList> cards_;
    std::vector<std::string> userPcms_;
    std::set<std::string> reportedMissing_; // named PCMs already logged as skipped (main thread)
    std::set<std::string> lost_;            // uids that failed while running (main thread)
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    MainThreadWakeup wakeup_{[this] { onHotplug(); }};
    QTimer rescanTimer_;
    bool hotplugRunning_ = false;

    ObjectId nextId_ = kFirstId;

    std::unique_ptr<alsa::HotplugMonitor> hotplug_; // last: its thread wakes wakeup_
};

} // namespace corvane::hw
