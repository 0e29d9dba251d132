// Start and stop: turning the strips into a running graph on the selected device
// and tearing it down again.
#include "engine/AudioEngineManager.h"

#include "platform/system/Logging.h"

#include <QPointer>

namespace corvane {

Async<void> AudioEngineManager::start(bool automaticRestart) {
    QPointer<AudioEngineManager> self(this);
    if (!selectedDevice_) {
        setErrorMessage(QStringLiteral("Select an audio device."));
        co_return;
    }
    if (!automaticRestart)
        recoveryThrottle_.attempts.clear();
    stop();
    setErrorMessage(std::nullopt);
    setWarningMessage(std::nullopt);

    const bool rateAccepted = co_await prepareDevice();
    if (!self)
        co_return;
    (void)rateAccepted;
    // The graph itself is built here once the real-time engine exists.
}

void AudioEngineManager::stop() {
    recoveryTask_.cancel();
    recoveryTask_ = Task();
    meterTask_.cancel();
    meterTask_ = Task();
    levelStore_.clear();
    for (auto* slot : channels_) {
        slot->setInputLevel({});
        slot->setInputLevelRight({});
        slot->setOutputLevel({});
        slot->setOutputLevelRight({});
    }
    setRunning(false);
    setActualBufferFrames(std::nullopt);
    setActualSampleRate(std::nullopt);
    setLatencyEstimate(std::nullopt);
}

} // namespace corvane
