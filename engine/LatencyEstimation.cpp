// Filling the latency estimate once the engine runs, and keeping it and the
// actual period size current while the device changes them underneath.
#include "engine/AudioEngineManager.h"

#include "devices/DeviceSettings.h"
#include "platform/system/Logging.h"

#include <QPointer>

namespace corvane {

Async<void> AudioEngineManager::computeLatencyEstimate(hw::ObjectId device, double rate, QList<ActiveStrip> strips) {
    QPointer<AudioEngineManager> self(this);
    const std::uint64_t run = stopCount_;
    // Every loaded effect counts, bypassed or not: its dry path is delayed to match.
    const double pluginSeconds = largestPluginLatency(strips);
    auto frames = co_await runDetached([hardware = &hardware_, device] {
        return std::make_pair(deviceLatencyFrames(*hardware, device, hw::Scope::Input),
                              deviceLatencyFrames(*hardware, device, hw::Scope::Output));
    });
    if (!self || stopCount_ != run || !isRunning_)
        co_return;
    LatencyEstimate estimate;
    estimate.sampleRate = rate;
    estimate.bufferFrames = actualBufferFrames_ ? std::int64_t(*actualBufferFrames_) : std::int64_t(bufferFrames_);
    estimate.inputDeviceFrames = frames ? frames->first : 0;
    estimate.outputDeviceFrames = frames ? frames->second : 0;
    estimate.pluginSeconds = pluginSeconds;
    setLatencyEstimate(estimate);
}

void AudioEngineManager::followDeviceSettings(hw::ObjectId device) {
    stopFollowingDeviceSettings();
    QPointer<AudioEngineManager> self(this);
    // Called on a hardware thread: only hop to the main thread.
    auto hop = [self] {
        postToMain([self] {
            if (self)
                self->deviceSettingsChanged();
        });
    };
    // The global scope hears the input and the output latency alike.
    for (const auto selector : {hw::Selector::BufferFrameSize, hw::Selector::Latency}) {
        const hw::Address address{selector};
        settingsListeners_.push_back({device, address, hardware_.addListener(device, address, hop)});
    }
}

void AudioEngineManager::stopFollowingDeviceSettings() {
    for (const auto& listener : settingsListeners_)
        hardware_.removeListener(listener.object, listener.address, listener.id);
    settingsListeners_.clear();
    deviceSettingsTask_.cancel();
    deviceSettingsTask_ = Task();
}

void AudioEngineManager::deviceSettingsChanged() {
    if (!isRunning_ || !selectedDevice())
        return;
    // A newer change makes an older look pointless.
    deviceSettingsTask_.cancel();
    QPointer<AudioEngineManager> self(this);
    const hw::ObjectId device = selectedDevice()->id;
    deviceSettingsTask_ = spawnWith([this, self, device]() -> Async<void> {
        auto frames = co_await runDetached([hardware = &hardware_, device] { return bufferFrameSize(*hardware, device); });
        if (!self || co_await currentTaskCancelled())
            co_return;
        deviceSettingsTask_ = Task();
        if (!isRunning_)
            co_return;
        if (frames && *frames && **frames != actualBufferFrames_.value_or(0)) {
            qCInfo(lcEngine, "The device now runs periods of %u frames", **frames);
            setActualBufferFrames(**frames);
            // Without a choice of the user's, the request follows the device.
            if (!bufferFramesChosen_)
                adoptBufferFrames(**frames);
        }
        co_await computeLatencyEstimate(device, runningRate_, runningStrips_);
    });
}

} // namespace corvane
