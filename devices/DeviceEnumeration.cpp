#include "devices/DeviceEnumeration.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace corvane {

using hw::Address;
using hw::Scope;
using hw::Selector;

namespace {

// The platform's private default aggregate device is never offered to the user.
constexpr auto kPrivateAggregatePrefix = "CADefaultDeviceAggregate";

std::optional<QString> readText(const hw::AudioHardware& hardware, hw::ObjectId device, Selector selector) {
    auto text = hardware.getAs<std::string>(device, Address{selector, Scope::Global});
    if (!text || text->empty())
        return std::nullopt;
    return QString::fromStdString(*text);
}

std::int64_t readFrames(const hw::AudioHardware& hardware, hw::ObjectId object, Address address) {
    if (!hardware.has(object, address))
        return 0;
    return hardware.getAs<std::uint32_t>(object, address).value_or(0);
}

} // namespace

QList<AudioDevice> listDevices(const hw::AudioHardware& hardware) {
    QList<AudioDevice> devices;
    auto ids = hardware.getAs<std::vector<hw::ObjectId>>(hw::kSystemObject, Address{Selector::Devices});
    if (!ids)
        return devices;
    for (hw::ObjectId id : *ids) {
        auto name = readText(hardware, id, Selector::Name);
        if (!name)
            continue;
        auto uid = readText(hardware, id, Selector::Uid);
        if (!uid || uid->startsWith(QLatin1String(kPrivateAggregatePrefix)))
            continue;
        const int inputs = channelCount(hardware, id, Scope::Input);
        const int outputs = channelCount(hardware, id, Scope::Output);
        if (inputs < 1 && outputs < 1)
            continue;
        devices.append(AudioDevice{id, *uid, *name, inputs, outputs});
    }
    return devices;
}

int channelCount(const hw::AudioHardware& hardware, hw::ObjectId device, Scope scope) {
    auto config = hardware.getAs<hw::StreamConfiguration>(device, Address{Selector::StreamConfiguration, scope});
    if (!config)
        return 0;
    std::int64_t total = 0;
    for (auto channels : config->bufferChannels)
        total += channels;
    return int(std::min<std::int64_t>(total, std::numeric_limits<int>::max()));
}

std::int64_t deviceLatencyFrames(const hw::AudioHardware& hardware, hw::ObjectId device, Scope scope) {
    std::int64_t total = readFrames(hardware, device, Address{Selector::Latency, scope});
    total += readFrames(hardware, device, Address{Selector::SafetyOffset, scope});
    auto streams = hardware.getAs<std::vector<hw::ObjectId>>(device, Address{Selector::Streams, scope});
    if (streams && !streams->empty())
        total += readFrames(hardware, streams->front(), Address{Selector::Latency, Scope::Global});
    return total;
}

std::optional<BufferRange> bufferFrameSizeRange(const hw::AudioHardware& hardware, hw::ObjectId device) {
    auto ranges = hardware.getAs<std::vector<hw::ValueRange>>(device, Address{Selector::BufferFrameSizeRange});
    if (!ranges || ranges->empty())
        return std::nullopt;
    double lo = ranges->front().minimum;
    double hi = ranges->front().maximum;
    for (const auto& range : *ranges) {
        lo = std::min(lo, range.minimum);
        hi = std::max(hi, range.maximum);
    }
    // A bound beyond what 32 bits can count is no usable range.
    constexpr double kLimit = double(std::numeric_limits<std::uint32_t>::max());
    if (!(lo > 0) || !(hi >= lo) || hi > kLimit)
        return std::nullopt;
    return BufferRange{std::uint32_t(std::trunc(lo)), std::uint32_t(std::trunc(hi))};
}

std::uint32_t nearestBufferFrameSize(const hw::AudioHardware& hardware, hw::ObjectId device, std::uint32_t frames) {
    auto ranges = hardware.getAs<std::vector<hw::ValueRange>>(device, Address{Selector::BufferFrameSizeRange});
    if (!ranges)
        return frames;
    const double wanted = frames;
    std::optional<double> best;
    for (const auto& range : *ranges) {
        if (!(range.minimum >= 1) || !(range.maximum >= range.minimum) ||
            range.maximum > double(std::numeric_limits<std::uint32_t>::max()))
            continue;
        const double lo = std::ceil(range.minimum);
        const double hi = std::floor(range.maximum);
        if (lo > hi)
            continue;
        const double candidate = std::clamp(wanted, lo, hi);
        const double distance = std::abs(candidate - wanted);
        if (!best || distance < std::abs(*best - wanted) || (distance == std::abs(*best - wanted) && candidate > *best))
            best = candidate;
    }
    return best ? std::uint32_t(*best) : frames;
}

} // namespace corvane
