#pragma once
// Plain queries over the hardware layer: the usable devices, a device's channel
// counts, extra latency and buffer-size range. They may block on the hardware,
// so the engine runs them on the background pool. A failing query degrades to
// a neutral value (empty list, device skipped, 0, no range); nothing throws.

#include "devices/AudioDevice.h"
#include "platform/hardware/AudioHardware.h"

#include <QList>
#include <QObject>
#include <cstdint>
#include <optional>

namespace corvane {

// The span of buffer sizes a device supports, in frames.
struct BufferRange {
    Q_GADGET
    Q_PROPERTY(quint32 min MEMBER min)
    Q_PROPERTY(quint32 max MEMBER max)

public:
    std::uint32_t min = 0;
    std::uint32_t max = 0;
    friend bool operator==(const BufferRange&, const BufferRange&) = default;
};

// Devices in the order the hardware layer lists them; devices whose name or uid
// cannot be read, private aggregates, and devices with no channel at all are left out.
QList<AudioDevice> listDevices(const hw::AudioHardware& hardware);

// Total channels of one direction (scope Input or Output); 0 when unknown.
int channelCount(const hw::AudioHardware& hardware, hw::ObjectId device, hw::Scope scope);

// Device latency + safety offset + latency of the direction's first stream, in
// frames; each missing or unreadable term counts 0.
std::int64_t deviceLatencyFrames(const hw::AudioHardware& hardware, hw::ObjectId device, hw::Scope scope);

// The device's supported buffer sizes merged into one span, or none.
std::optional<BufferRange> bufferFrameSizeRange(const hw::AudioHardware& hardware, hw::ObjectId device);

// The buffer size the device offers that is nearest to `frames` (the larger of
// two equally near: it drops out less); `frames` itself when the device does
// not say what it offers.
std::uint32_t nearestBufferFrameSize(const hw::AudioHardware& hardware, hw::ObjectId device, std::uint32_t frames);

} // namespace corvane
