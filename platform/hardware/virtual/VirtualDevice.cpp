#include "platform/hardware/virtual/VirtualDevice.h"

#include <algorithm>

namespace corvane::hw::virt {

namespace {

std::optional<PropertyValue> frames(std::optional<std::uint32_t> value) {
    if (!value)
        return std::nullopt;
    return PropertyValue{*value};
}

bool isDirection(Scope scope) { return scope == Scope::Input || scope == Scope::Output; }

} // namespace

bool VirtualDevice::owns(ObjectId object) const {
    return object != kNoObject && (object == id || object == inputStream || object == outputStream);
}

bool VirtualDevice::readFails(Address address) const {
    return std::find(failedReads.begin(), failedReads.end(), std::pair{address.selector, address.scope}) !=
           failedReads.end();
}

std::optional<PropertyValue> VirtualDevice::read(ObjectId object, Address address) const {
    if (address.element != 0 || !owns(object))
        return std::nullopt;
    if (object != id) {
        // A stream has only its latency.
        if (address.selector != Selector::Latency || address.scope != Scope::Global)
            return std::nullopt;
        return frames(object == inputStream ? inputLatency.stream : outputLatency.stream);
    }
    if (readFails(address))
        return std::nullopt;
    return readDevice(address);
}

std::optional<PropertyValue> VirtualDevice::readDevice(Address address) const {
    const bool global = address.scope == Scope::Global;
    const bool direction = isDirection(address.scope);
    const bool input = address.scope == Scope::Input;
    switch (address.selector) {
    case Selector::Name:
        return global ? std::optional<PropertyValue>(name) : std::nullopt;
    case Selector::Uid:
        return global ? std::optional<PropertyValue>(uid) : std::nullopt;
    case Selector::StreamConfiguration: {
        if (!direction)
            return std::nullopt;
        const std::uint32_t channels = input ? inputs : outputs;
        StreamConfiguration configuration;
        if (channels > 0)
            configuration.bufferChannels.push_back(channels);
        return configuration;
    }
    case Selector::Streams: {
        if (!direction)
            return std::nullopt;
        const ObjectId stream = input ? inputStream : outputStream;
        return stream == kNoObject ? std::vector<ObjectId>{} : std::vector<ObjectId>{stream};
    }
    case Selector::Latency:
        return direction ? frames(latency(address.scope).device) : std::nullopt;
    case Selector::SafetyOffset:
        return direction ? frames(latency(address.scope).safetyOffset) : std::nullopt;
    case Selector::BufferFrameSizeRange:
        if (!global)
            return std::nullopt;
        return std::vector<ValueRange>{ValueRange{kMinBufferFrames, kMaxBufferFrames}};
    case Selector::BufferFrameSize:
        return global ? std::optional<PropertyValue>(bufferFrames) : std::nullopt;
    case Selector::NominalSampleRate:
        return global ? std::optional<PropertyValue>(reportedRate.value_or(sampleRate)) : std::nullopt;
    case Selector::Devices:
    case Selector::Overload:
    case Selector::ConfigurationChange:
        break;
    }
    return std::nullopt;
}

void VirtualDevice::fitSignals() {
    inputSignals.resize(inputs);
    std::string unused;
    for (std::uint32_t c = 0; c < inputs; ++c)
        if (!inputSignals[c])
            inputSignals[c] = SignalSource::make(SignalSource::defaultSignal(c), c, unused);
}

} // namespace corvane::hw::virt
