#pragma once
// The latency line under the buffer-size choice: the round trip once the engine
// has started and estimated it; before that a warning when the requested size
// lies outside what the device supports, else the one-way figure of the buffer.

#include "devices/DeviceEnumeration.h"
#include "engine/LatencyEstimate.h"

#include <QString>
#include <cstdint>
#include <optional>

namespace corvane {

struct LatencyLine {
    QString text;
    QString toolTip; // empty when the line has none
    bool warning = false;
    friend bool operator==(const LatencyLine&, const LatencyLine&) = default;
};

// `requestedMilliseconds` is AudioEngineManager::requestedBufferMilliseconds().
LatencyLine latencyLine(std::optional<std::uint32_t> actualBufferFrames, const std::optional<LatencyEstimate>& estimate,
                        std::uint32_t bufferFrames, std::optional<BufferRange> supportedRange,
                        double requestedMilliseconds);

} // namespace corvane
