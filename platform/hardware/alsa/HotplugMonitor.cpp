#include "platform/hardware/alsa/HotplugMonitor.h"

#include <libudev.h>
#include <poll.h>

namespace corvane::hw::alsa {

UdevMonitor::~UdevMonitor() {
    if (thread_.joinable()) {
        stop_.raise();
        thread_.join();
    }
    if (monitor_)
        udev_monitor_unref(monitor_);
    if (udev_)
        udev_unref(udev_);
}

bool UdevMonitor::start(std::function<void()> changed) {
    if (thread_.joinable() || !stop_.valid())
        return false;
    udev_ = udev_new();
    if (!udev_)
        return false;
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (!monitor_ || udev_monitor_filter_add_match_subsystem_devtype(monitor_, "sound", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0)
        return false;
    changed_ = std::move(changed);
    thread_ = std::thread([this] { run(); });
    return true;
}

void UdevMonitor::run() {
    pollfd fds[2] = {{udev_monitor_get_fd(monitor_), POLLIN, 0}, {stop_.fd(), POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0)
            continue; // EINTR
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        // A card brings several events (the card, its control, each PCM):
        // each one is a reason to look again; the backend coalesces them.
        while (udev_device* device = udev_monitor_receive_device(monitor_)) {
            udev_device_unref(device);
            changed_();
        }
    }
}

} // namespace corvane::hw::alsa
