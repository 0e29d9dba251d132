// Filling the latency estimate once the engine runs.
#include "engine/AudioEngineManager.h"

#include <QPointer>

namespace corvane {

Async<void> AudioEngineManager::computeLatencyEstimate(hw::ObjectId device, double rate, QList<ActiveStrip> strips) {
    QPointer<AudioEngineManager> self(this);
    const std::uint64_t run = stopCount_;
    // Every loaded effect counts, bypassed or not: bypass can end at any moment.
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

} // namespace corvane
