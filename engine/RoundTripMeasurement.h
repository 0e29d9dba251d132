#pragma once
// Measuring a device's real round trip: plays the multi-tone test signal out
// of one output, records one input, and reads the delay out of what came back,
// several runs for agreement. The device is opened on its own, not through the
// engine, which must not be playing it meanwhile. The command line's
// --measure-latency and the window's Measure Latency both run this.

#include "platform/hardware/AudioHardware.h"

#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace corvane {

struct RoundTripRequest {
    QString deviceUid;
    int output = 0; // 1-based channels, as the window numbers them
    int input = 0;
    std::optional<std::uint32_t> sampleRate;   // none: as the device runs now
    std::optional<std::uint32_t> bufferFrames;
};

struct RoundTripResult {
    int exitCode = 0;   // 0 measured, 1 nothing measured (errorLine says why)
    QString errorLine;
    QJsonObject report; // measuredFrames, measuredMs, estimateFrames, estimateMs, polarity, runs, summary
};

// The sentence the user reads: the round trip measured against the estimate,
// and what the difference means; on a JACK server, how to make its figures right.
QString measuredLatencySummary(double measuredFrames, std::int64_t estimateFrames, double sampleRate, bool inverted,
                               bool jack = false);

// Blocking, for about a second per run: the command line's main thread, or a
// background thread (nothing here needs an event loop). `pass` is called while the
// runs play (by default a short sleep); a test drives a manual clock from it.
RoundTripResult measureRoundTrip(hw::AudioHardware& hardware, const RoundTripRequest& options,
                                 const std::function<void()>& pass = {}, int runs = 3);

} // namespace corvane
