#pragma once
// Tells when sound cards come and go. Behind an interface so that tests can
// send add and remove events of their own.

#include "platform/hardware/alsa/StopEvent.h"

#include <functional>
#include <thread>

struct udev;
struct udev_monitor;

namespace corvane::hw::alsa {

class HotplugMonitor {
public:
    virtual ~HotplugMonitor() = default;
    // `changed` runs on the monitor's own thread after every add, remove or
    // change of a device of the "sound" subsystem; it must only hand the event
    // on. False (and no calls) when the system offers no events.
    virtual bool start(std::function<void()> changed) = 0;
};

// libudev's monitor on the "sound" subsystem, read on a thread of its own
// until destruction.
class UdevMonitor final : public HotplugMonitor {
public:
    UdevMonitor() = default;
    ~UdevMonitor() override;
    UdevMonitor(const UdevMonitor&) = delete;
    UdevMonitor& operator=(const UdevMonitor&) = delete;

    bool start(std::function<void()> changed) override;

private:
    void run();

    std::function<void()> changed_;
    ::udev* udev_ = nullptr;
    ::udev_monitor* monitor_ = nullptr;
    StopEvent stop_;
    std::thread thread_;
};

} // namespace corvane::hw::alsa
