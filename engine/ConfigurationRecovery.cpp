#include "engine/ConfigurationRecovery.h"

#include "engine/ObservableField.h"
#include "platform/system/Logging.h"

#include <QPointer>
#include <algorithm>

namespace corvane {

using namespace std::chrono_literals;

ConfigurationRecovery::ConfigurationRecovery(Host& host, Clock& clock, QObject* parent)
    : QObject(parent), host_(host), clock_(clock) {}

ConfigurationRecovery::~ConfigurationRecovery() {
    check_.cancel();
    restart_.cancel();
}

void ConfigurationRecovery::configurationChanged(std::optional<QString> deviceUID) {
    // Stop first: whatever the device does next, a graph built for what it was
    // must not go on.
    qCInfo(lcEngine, "Engine configuration change while running - stopping");
    host_.stopPlayback();
    if (!deviceUID) {
        host_.showError(QStringLiteral("The audio device's configuration changed - playback was stopped. Press "
                                       "Start to rebuild the routing."));
        return;
    }
    interruptedDeviceUID_ = deviceUID;
    setRecovering(true);
    // Then tell a vanished device (a disconnection, reported as one) from one
    // that reconfigured itself (restarted). A device list that does not come in
    // time is no reason to give the device up.
    QPointer<ConfigurationRecovery> self(this);
    check_ = spawnWith([this, self, uid = *deviceUID]() -> Async<void> {
        auto list = co_await host_.listDevicesWithin(2s);
        if (!self || co_await currentTaskCancelled())
            co_return;
        check_ = Task();
        if (list && std::none_of(list->begin(), list->end(), [&](const AudioDevice& d) { return d.uid == uid; })) {
            host_.takeDeviceList(*list);
            setRecovering(false);
            co_return;
        }
        scheduleRestart(uid);
    });
}

void ConfigurationRecovery::scheduleRestart(const QString& deviceUID) {
    if (!throttle_.recordAttempt(clock_.now())) {
        qCCritical(lcEngine, "Device reconfigured %dx in quick succession - not restarting again",
                   throttle_.maxAttempts);
        host_.showError(QStringLiteral(
            "The audio device kept reconfiguring itself, so playback was left stopped. Press Start to try again."));
        setRecovering(false);
        return;
    }
    host_.showWarning(QStringLiteral("The audio device reconfigured itself - restarting playback…"));
    restart_ = spawn(restart(int(throttle_.attempts.size()), deviceUID));
}

Async<void> ConfigurationRecovery::restart(int attempt, QString deviceUID) {
    QPointer<ConfigurationRecovery> self(this);
    if (!co_await sleepFor(clock_, attempt * 500ms))
        co_return;
    if (!self || co_await currentTaskCancelled())
        co_return;
    const std::optional<AudioDevice> device = co_await host_.rediscover(deviceUID);
    if (!self || co_await currentTaskCancelled())
        co_return;
    if (!device) {
        qCInfo(lcEngine, "Recovery abandoned - the device is no longer present");
        setRecovering(false);
        co_return;
    }
    // Let go of this task first, so the start's own stop does not cancel it.
    restart_ = Task();
    qCInfo(lcEngine, "Recovery attempt %d: restarting on “%s”", attempt, qUtf8Printable(device->name));
    const bool playing = co_await host_.restartOn(*device);
    if (!self)
        co_return;
    qCInfo(lcEngine, "Recovery attempt %d %s", attempt, playing ? "succeeded" : "failed");
    setRecovering(false);
}

void ConfigurationRecovery::abandon() {
    if (!restart_.isDone() || !check_.isDone())
        setRecovering(false);
    restart_.cancel();
    restart_ = Task();
    check_.cancel();
    check_ = Task();
}

void ConfigurationRecovery::forgetAttempts() {
    throttle_.attempts.clear();
    setRecovering(false);
}

void ConfigurationRecovery::setRecovering(bool recovering) {
    if (assignIfChanged(recovering_, recovering))
        emit isRecoveringChanged();
}

} // namespace corvane
