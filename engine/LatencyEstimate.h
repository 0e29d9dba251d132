#pragma once
// The input-to-output latency estimated from what the device and the plug-ins
// report once the engine runs.

#include <QString>
#include <cstdint>

namespace corvane {

struct LatencyEstimate {
    double sampleRate = 0;       // Hz the engine runs at
    std::int64_t bufferFrames = 0;
    std::int64_t inputDeviceFrames = 0;  // device latency + safety offset + stream latency
    std::int64_t outputDeviceFrames = 0;
    double pluginSeconds = 0;    // the longest latency of any strip's effect

    double inputMilliseconds() const;
    double outputMilliseconds() const;
    double pluginMilliseconds() const { return pluginSeconds * 1000.0; }
    double bufferMilliseconds() const;
    double roundTripMilliseconds() const;
    // The detailed tooltip text.
    QString summary() const;

    friend bool operator==(const LatencyEstimate&, const LatencyEstimate&) = default;
};

} // namespace corvane
