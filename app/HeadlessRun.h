#pragma once
// Running a routing without a window: the same AudioEngineManager the window
// drives, started from the command line, watched for a while, then reported on
// as JSON.

#include "app/CommandLine.h"
#include "platform/hardware/AudioHardware.h"
#include "platform/system/Task.h"

#include <QJsonObject>

namespace corvane {

class AudioEngineManager;

struct HeadlessResult {
    int exitCode = 0;        // 0 ran, 1 failed to start or stopped by a fault, 2 bad arguments
    QString errorLine;       // for standard error; empty when none
    QJsonObject report;      // empty when the run never started
};

// Main thread. Runs until the given seconds have passed, `interrupted` becomes
// true, or playback stops by itself (a vanished device, a failed restart).
Async<HeadlessResult> runHeadless(hw::AudioHardware& hardware, Clock& clock, const HeadlessOptions& options,
                                  const bool& interrupted);

} // namespace corvane
