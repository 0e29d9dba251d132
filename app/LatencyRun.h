#pragma once
// `corvane --measure-latency`: plays the multi-tone test signal out of one
// output of a device, records one input, and reads the round trip out of what
// came back, several runs for agreement. The device is opened on its own, not
// through the engine: no strip plays meanwhile.

#include "app/CommandLine.h"
#include "platform/hardware/AudioHardware.h"

#include <QJsonObject>
#include <QString>

#include <cstdint>
#include <functional>

namespace corvane {

struct LatencyRunResult {
    int exitCode = 0;   // 0 measured, 1 nothing measured (errorLine says why)
    QString errorLine;
    QJsonObject report; // measuredFrames, measuredMs, estimateFrames, estimateMs, polarity, runs, summary
};

// The sentence the user reads: the round trip measured against the estimate,
// and what the difference means.
QString measuredLatencySummary(double measuredFrames, std::int64_t estimateFrames, double sampleRate, bool inverted);

// Main thread, blocking for about a second per run. `pass` is called while the
// runs play (by default a short sleep); a test drives a manual clock from it.
LatencyRunResult runLatencyMeasurement(hw::AudioHardware& hardware, const MeasureOptions& options,
                                       const std::function<void()>& pass = {}, int runs = 3);

} // namespace corvane
