#pragma once
// Recovering from a device that reconfigured itself under the running graph:
// playback stops at once; a device that turns out to be gone ends it there,
// and one still present is restarted on after a short delay that grows with
// each attempt, within the throttle (at most three a minute), so a device that
// keeps reconfiguring itself ends up stopped rather than in a restart loop.
//
// Main thread only. The recovery asks its host (the engine manager) for what
// it cannot do itself; every wait it makes is a task it owns and abandon()
// cancels.

#include "devices/AudioDevice.h"
#include "engine/RecoveryThrottle.h"
#include "platform/system/Clock.h"
#include "platform/system/Task.h"

#include <QList>
#include <QObject>
#include <QString>
#include <optional>

namespace corvane {

class ConfigurationRecovery : public QObject {
    Q_OBJECT

public:
    // What a recovery needs from whoever runs the engine.
    class Host {
    public:
        virtual ~Host() = default;
        // Stops playback; the stop is expected to call abandon().
        virtual void stopPlayback() = 0;
        // The devices present now, or none when the hardware did not answer in time.
        virtual Async<std::optional<QList<AudioDevice>>> listDevicesWithin(Clock::Duration limit) = 0;
        // A list without the stopped device: its disconnection is handled as any.
        virtual void takeDeviceList(const QList<AudioDevice>& devices) = 0;
        // The device by uid after a fresh look for devices; none when it is gone.
        virtual Async<std::optional<AudioDevice>> rediscover(QString uid) = 0;
        // Selects the device and starts on it as an automatic restart; yields
        // whether it plays.
        virtual Async<bool> restartOn(AudioDevice device) = 0;
        virtual void showError(const QString& message) = 0;
        virtual void showWarning(const QString& message) = 0;
    };

    // `host` and `clock` must outlive the recovery.
    ConfigurationRecovery(Host& host, Clock& clock, QObject* parent = nullptr);
    ~ConfigurationRecovery() override;

    // Between a reconfiguration that stopped playback and the end of the
    // restarts that follow it (playing again, or given up).
    bool isRecovering() const { return recovering_; }

    // The running device (none: playback ran on no known device) reconfigured itself.
    void configurationChanged(std::optional<QString> deviceUID);
    // Ends a recovery in progress: its pending waits are cancelled, and the
    // flag falls if one was pending. A restart's own start passes through here
    // with nothing pending.
    void abandon();
    // The user's own start: earlier attempts no longer count.
    void forgetAttempts();

    // The device whose playback a reconfiguration just stopped, until the next
    // start: if it turns out to be gone, its loss is what stopped playback.
    const std::optional<QString>& interruptedDeviceUID() const { return interruptedDeviceUID_; }
    void clearInterruption() { interruptedDeviceUID_.reset(); }

    const RecoveryThrottle& throttle() const { return throttle_; }

signals:
    void isRecoveringChanged();

private:
    void setRecovering(bool recovering);
    void scheduleRestart(const QString& deviceUID);
    Async<void> restart(int attempt, QString deviceUID);

    Host& host_;
    Clock& clock_;
    bool recovering_ = false;
    RecoveryThrottle throttle_;
    std::optional<QString> interruptedDeviceUID_;
    Task check_;   // telling a vanished device from a reconfigured one
    Task restart_; // the delay before a restart and the look for the device
};

} // namespace corvane
