// Stopping cleanly when the device reconfigures itself under the running graph,
// and restarting on it after a short, growing delay, within the throttle.
#include "engine/AudioEngineManager.h"

#include "platform/system/Logging.h"

#include <QPointer>
#include <algorithm>

namespace corvane {

using namespace std::chrono_literals;

void AudioEngineManager::handleConfigurationChange() {
    if (!isRunning_)
        return;
    // Stop first: whatever the device does next, a graph built for what it was
    // must not go on.
    qCInfo(lcEngine, "Engine configuration change while running - stopping");
    const std::optional<QString> uid = selectedDevice_ ? std::optional<QString>(selectedDevice_->uid) : std::nullopt;
    stop();
    if (!uid) {
        setErrorMessage(QStringLiteral("The audio device's configuration changed - playback was stopped. Press "
                                       "Start to rebuild the routing."));
        return;
    }
    interruptedDeviceUID_ = uid;
    setRecovering(true);
    // Then tell a vanished device (a disconnection, reported as one) from one
    // that reconfigured itself (restarted). A device list that does not come in
    // time is no reason to give the device up.
    QPointer<AudioEngineManager> self(this);
    configurationCheck_ = spawnWith([this, self, uid = *uid]() -> Async<void> {
        auto list = co_await runDetachedWithin(clock_, 2s, [hardware = &hardware_] { return listDevices(*hardware); });
        if (!self || co_await currentTaskCancelled())
            co_return;
        configurationCheck_ = Task();
        if (list && std::none_of(list->begin(), list->end(), [&](const AudioDevice& d) { return d.uid == uid; })) {
            deviceListChanged(*list);
            setRecovering(false);
            co_return;
        }
        scheduleRecovery(uid);
    });
}

void AudioEngineManager::scheduleRecovery(const QString& deviceUID) {
    if (!recoveryThrottle_.recordAttempt(clock_.now())) {
        qCCritical(lcEngine, "Device reconfigured %dx in quick succession - not restarting again",
                   recoveryThrottle_.maxAttempts);
        setErrorMessage(QStringLiteral(
            "The audio device kept reconfiguring itself, so playback was left stopped. Press Start to try again."));
        setRecovering(false);
        return;
    }
    const int attempt = int(recoveryThrottle_.attempts.size());
    setWarningMessage(QStringLiteral("The audio device reconfigured itself - restarting playback…"));
    recoveryTask_ = spawn(runRecoveryAttempt(attempt, deviceUID));
}

Async<void> AudioEngineManager::runRecoveryAttempt(int attempt, QString deviceUID) {
    QPointer<AudioEngineManager> self(this);
    if (!co_await sleepFor(clock_, attempt * 500ms))
        co_return;
    if (!self || co_await currentTaskCancelled())
        co_return;
    co_await refreshDevices();
    if (!self || co_await currentTaskCancelled())
        co_return;
    std::optional<AudioDevice> device;
    for (const auto& d : devices_)
        if (d.uid == deviceUID) {
            device = d;
            break;
        }
    if (!device) {
        qCInfo(lcEngine, "Recovery abandoned - the device is no longer present");
        setRecovering(false);
        co_return;
    }
    setSelectedDevice(*device);
    // Let go of this task first, so the start's own stop() does not cancel it.
    recoveryTask_ = Task();
    qCInfo(lcEngine, "Recovery attempt %d: restarting on “%s”", attempt, qUtf8Printable(device->name));
    co_await start(true);
    if (!self)
        co_return;
    qCInfo(lcEngine, "Recovery attempt %d %s", attempt, isRunning_ ? "succeeded" : "failed");
    setRecovering(false);
}

} // namespace corvane
