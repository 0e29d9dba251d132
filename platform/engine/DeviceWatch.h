#pragma once
// Listens on the hardware for what invalidates a running graph: the device
// leaving the system's device list, its nominal rate, its input or output
// channel layout, or a configuration change it reports itself.
//
// `onEvent` runs on whatever thread the backend reports from, so it must only
// hand the event on. Construct and destroy on the main thread; a callback
// already in flight may still run after destruction, so it must hold nothing
// the destructor frees.

#include "platform/hardware/AudioHardware.h"

#include <functional>
#include <vector>

namespace corvane::engine {

enum class DeviceEvent { DeviceListChanged, SampleRateChanged, LayoutChanged, ConfigurationChanged };

class DeviceWatch {
public:
    DeviceWatch(hw::AudioHardware& hardware, hw::ObjectId device, std::function<void(DeviceEvent)> onEvent);
    ~DeviceWatch();
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

private:
    struct Registration {
        hw::ObjectId object;
        hw::Address address;
        hw::AudioHardware::ListenerId id;
    };

    hw::AudioHardware& hardware_;
    std::vector<Registration> registrations_;
};

} // namespace corvane::engine
