// What a recovery from a reconfigured device asks of the manager: noticing the
// change, looking for the device again and starting on it.
#include "engine/AudioEngineManager.h"

#include <QPointer>

namespace corvane {

void AudioEngineManager::handleConfigurationChange() {
    if (!isRunning_)
        return;
    const auto& device = selectedDevice();
    recovery_.configurationChanged(device ? std::optional<QString>(device->uid) : std::nullopt);
}

Async<std::optional<QList<AudioDevice>>> AudioEngineManager::listDevicesWithin(Clock::Duration limit) {
    co_return co_await runDetachedWithin(clock_, limit, [hardware = &hardware_] { return listDevices(*hardware); });
}

Async<std::optional<AudioDevice>> AudioEngineManager::rediscover(QString uid) {
    QPointer<AudioEngineManager> self(this);
    co_await refreshDevices();
    if (!self)
        co_return std::nullopt;
    for (const auto& d : devices())
        if (d.uid == uid)
            co_return d;
    co_return std::nullopt;
}

Async<bool> AudioEngineManager::restartOn(AudioDevice device) {
    QPointer<AudioEngineManager> self(this);
    deviceTracking_.setSelected(device);
    co_await start(true);
    co_return self && isRunning_;
}

} // namespace corvane
