#pragma once
// Running a routing without a window: the same AudioEngineManager the window
// drives, started from the command line, watched for a while, then reported on
// as JSON.

#include "app/CommandLine.h"
#include "platform/hardware/AudioHardware.h"
#include "platform/system/Task.h"
#include "engine/Setup.h"

#include <QJsonObject>
#include <QObject>

#include <functional>
#include <utility>

namespace corvane {

class AudioEngineManager;

// The user's request to end a run (Ctrl-C, or a signal to end). Main thread.
class RunInterrupt : public QObject {
    Q_OBJECT

public:
    bool isRequested() const { return requested_; }
    // The signal that asked, 0 when none did.
    int signalNumber() const { return signal_; }
    void request(int signal = 0) {
        if (std::exchange(requested_, true))
            return;
        signal_ = signal;
        emit requested();
    }

signals:
    void requested();

private:
    bool requested_ = false;
    int signal_ = 0;
};

struct HeadlessResult {
    int exitCode = 0;      // 0 ran, 1 failed to start or stopped by a fault, 2 asked for what the device cannot do
    QString errorLine;     // the reason, for standard error; empty when none
    bool interrupted = false;
    QJsonObject report;    // empty when nothing was started (exit 2)
    // The setup as the run left it, plug-in settings included; none when
    // nothing was started.
    std::optional<Setup> setup;
};

// Main thread. Runs until the given seconds have passed, `interrupt` is
// requested, or playback stops by itself for good (a vanished device, a fault,
// automatic restarts that gave up). Between those it sleeps: nothing wakes it
// for nothing. Each warning goes to `warn` as it comes, and into the report.
// A setup file that cannot be used ends the run before it starts (exit 2).
Async<HeadlessResult> runHeadless(hw::AudioHardware& hardware, Clock& clock, const HeadlessOptions& options,
                                  RunInterrupt& interrupt, std::function<void(const QString&)> warn = {});

} // namespace corvane
