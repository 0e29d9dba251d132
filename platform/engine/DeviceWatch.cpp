#include "platform/engine/DeviceWatch.h"

namespace corvane::engine {

DeviceWatch::DeviceWatch(hw::AudioHardware& hardware, hw::ObjectId device, std::function<void(DeviceEvent)> onEvent)
    : hardware_(hardware) {
    using hw::Scope;
    using hw::Selector;
    const struct {
        hw::ObjectId object;
        hw::Address address;
        DeviceEvent event;
    } watched[] = {
        {hw::kSystemObject, {Selector::Devices, Scope::Global, 0}, DeviceEvent::DeviceListChanged},
        {device, {Selector::NominalSampleRate, Scope::Global, 0}, DeviceEvent::SampleRateChanged},
        // The global scope hears the input and the output layout alike.
        {device, {Selector::StreamConfiguration, Scope::Global, 0}, DeviceEvent::LayoutChanged},
        {device, {Selector::ConfigurationChange, Scope::Global, 0}, DeviceEvent::ConfigurationChanged},
    };
    for (const auto& w : watched) {
        const DeviceEvent event = w.event;
        const auto id = hardware_.addListener(w.object, w.address, [onEvent, event] { onEvent(event); });
        registrations_.push_back({w.object, w.address, id});
    }
}

DeviceWatch::~DeviceWatch() {
    for (const auto& r : registrations_)
        hardware_.removeListener(r.object, r.address, r.id);
}

} // namespace corvane::engine
