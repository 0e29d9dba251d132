#include "engine/LatencyEstimate.h"

namespace corvane {

double LatencyEstimate::inputMilliseconds() const {
    return (double(bufferFrames) + double(inputDeviceFrames)) / sampleRate * 1000.0;
}

double LatencyEstimate::outputMilliseconds() const {
    return (double(bufferFrames) + double(outputDeviceFrames)) / sampleRate * 1000.0;
}

double LatencyEstimate::bufferMilliseconds() const { return double(bufferFrames) / sampleRate * 1000.0; }

double LatencyEstimate::roundTripMilliseconds() const {
    return outputMilliseconds() + inputMilliseconds() + pluginMilliseconds();
}

QString LatencyEstimate::summary() const {
    return QString::asprintf("Input ≈ %.1f ms (%lld-sample buffer + %lld frames device latency and safety offset) · "
                             "Output ≈ %.1f ms (buffer + %lld frames) · Plugins up to %.1f ms (the longest strip). "
                             "The buffer alone is %.1f ms one way.",
                             inputMilliseconds(), static_cast<long long>(bufferFrames),
                             static_cast<long long>(inputDeviceFrames), outputMilliseconds(),
                             static_cast<long long>(outputDeviceFrames), pluginMilliseconds(), bufferMilliseconds());
}

} // namespace corvane
