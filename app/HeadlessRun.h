#pragma once
// Running a routing without a window: the same AudioEngineManager the window
// drives, started from the command line, watched for a while, then reported on
// as JSON.

#include "app/CommandLine.h"
#include "platform/hardware/AudioHardware.h"
#include "platform/system/Task.h"

#include <QJsonObject>
#include <QObject>

#include <utility>

namespace corvane {

class AudioEngineManager;

// The user's request to end a run (Ctrl-C). Main thread.
class RunInterrupt : public QObject {
    Q_OBJECT

public:
    bool isRequested() const { return requested_; }
    void request() {
        if (std::exchange(requested_, true))
            return;
        emit requested();
    }

signals:
    void requested();

private:
    bool requested_ = false;
};

struct HeadlessResult {
    int exitCode = 0;        // 0 ran, 1 failed to start or stopped by a fault, 2 bad arguments
    QString errorLine;       // for standard error; empty when none
    QJsonObject report;      // empty when the run never started
};

// Main thread. Runs until the given seconds have passed, `interrupt` is
// requested, or playback stops by itself (a vanished device, a failed restart).
// Between those it sleeps: nothing wakes it for nothing.
Async<HeadlessResult> runHeadless(hw::AudioHardware& hardware, Clock& clock, const HeadlessOptions& options,
                                  RunInterrupt& interrupt);

} // namespace corvane
