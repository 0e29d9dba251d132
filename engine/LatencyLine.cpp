#include "engine/LatencyLine.h"

namespace corvane {

LatencyLine latencyLine(std::optional<std::uint32_t> actualBufferFrames, const std::optional<LatencyEstimate>& estimate,
                        std::uint32_t bufferFrames, std::optional<BufferRange> supportedRange,
                        double requestedMilliseconds) {
    if (actualBufferFrames && estimate) {
        // Printed like the summary: always with a point, whatever the locale.
        return {QString::asprintf("≈ %.1f ms round trip (device: %u samples)", estimate->roundTripMilliseconds(),
                                  *actualBufferFrames),
                estimate->summary(), *actualBufferFrames != bufferFrames};
    }
    if (supportedRange && (bufferFrames < supportedRange->min || bufferFrames > supportedRange->max)) {
        return {QStringLiteral("Device only supports %1–%2 samples")
                    .arg(QString::number(supportedRange->min), QString::number(supportedRange->max)),
                QString(), true};
    }
    return {QString::asprintf("≈ %.1f ms buffer, one way (requested)", requestedMilliseconds),
            QStringLiteral("The real input-to-output latency (device safety offsets, device and plugin latency "
                           "included) is shown here once running."),
            false};
}

} // namespace corvane
