#include "engine/AudioEngineManager.h"

#include "engine/MidiInputs.h"
#include "engine/ObservableField.h"
#include "engine/SetupExchange.h"
#include "platform/hardware/jack/JackBackend.h"
#include "platform/lv2/HostedEffect.h"
#include "plugins/PluginCatalog.h"
#include "platform/system/Logging.h"
#include "platform/system/MemoryLock.h"

#include <QPointer>

namespace corvane {

AudioEngineManager::AudioEngineManager(hw::AudioHardware& hardware, Clock& clock, QObject* parent)
    : QObject(parent), hardware_(hardware), clock_(clock), dropouts_(hardware, clock), recovery_(*this, clock),
      deviceTracking_(hardware, clock, *this) {
    engine_ = makeEngine(); // here, once every setting it reads has its value
    for (int id = 0; id < kChannelCount; ++id)
        channels_.append(new ChannelSlot(id, this));
    meters_ = std::make_unique<StripMeters>(clock_, channels_);
    midiControl_ = new MidiControl(clock_, this);
    midi_inputs::setControlInput(hardware_, midiControl_);
    setups_ = new SetupExchange(*this);

    // The latency line follows everything it is made of.
    latencyLine_ = latencyLine(actualBufferFrames_, latencyEstimate_, bufferFrames_, supportedBufferRange_,
                               requestedBufferMilliseconds());
    for (auto changed : {&AudioEngineManager::actualBufferFramesChanged, &AudioEngineManager::latencyEstimateChanged,
                         &AudioEngineManager::bufferFramesChanged, &AudioEngineManager::supportedBufferRangeChanged,
                         &AudioEngineManager::isRunningChanged, &AudioEngineManager::actualSampleRateChanged,
                         &AudioEngineManager::sampleRateChanged})
        connect(this, changed, this, &AudioEngineManager::updateLatencyLine);
    connect(&dropouts_, &DropoutMonitor::countChanged, this, &AudioEngineManager::audioDropoutCountChanged);
    connect(&dropouts_, &DropoutMonitor::activeChanged, this, &AudioEngineManager::audioDropoutActiveChanged);
    connect(&recovery_, &ConfigurationRecovery::isRecoveringChanged, this, &AudioEngineManager::isRecoveringChanged);
    connect(&deviceTracking_, &DeviceTracking::devicesChanged, this, &AudioEngineManager::devicesChanged);
    connect(&deviceTracking_, &DeviceTracking::settledChanged, this, &AudioEngineManager::devicesSettledChanged);
    connect(&deviceTracking_, &DeviceTracking::selectedChanged, this, &AudioEngineManager::selectedDeviceChanged);
    connect(&dropouts_, &DropoutMonitor::droppedOut, this, &AudioEngineManager::nameDropoutSuspect);

    // Usually done by the time the user first opens the plug-in picker.
    PluginCatalog::startScan();
}

AudioEngineManager::~AudioEngineManager() {
    stop();
    midi_inputs::setControlInput(hardware_, nullptr);
    supportedBufferRangeTask_.cancel();
}

void AudioEngineManager::setBufferFrames(std::uint32_t frames) {
    bufferFramesChosen_ = true;
    adoptBufferFrames(frames);
}

void AudioEngineManager::adoptBufferFrames(std::uint32_t frames) {
    if (assignIfChanged(bufferFrames_, frames))
        emit bufferFramesChanged();
}

void AudioEngineManager::setSampleRate(double rate) {
    if (assignIfChanged(sampleRate_, rate))
        emit sampleRateChanged();
}

void AudioEngineManager::setRunning(bool running) {
    if (assignIfChanged(isRunning_, running))
        emit isRunningChanged();
}

void AudioEngineManager::setErrorMessage(std::optional<QString> message) {
    if (!assignIfChanged(errorMessage_, std::move(message)))
        return;
    // What the window's banner says goes to the log too, for whoever reads that.
    if (errorMessage_)
        qCInfo(lcEngine, "Error shown: %s", qUtf8Printable(*errorMessage_));
    emit errorMessageChanged();
}

void AudioEngineManager::setWarningMessage(std::optional<QString> message) {
    if (assignIfChanged(warningMessage_, std::move(message)))
        emit warningMessageChanged();
}

void AudioEngineManager::showSetupNotes(const QStringList& notes) {
    setWarningMessage(notes.isEmpty() ? std::nullopt : std::optional(notes.join(QLatin1Char(' '))));
}

void AudioEngineManager::setActualBufferFrames(std::optional<std::uint32_t> frames) {
    if (assignIfChanged(actualBufferFrames_, frames))
        emit actualBufferFramesChanged();
}

void AudioEngineManager::setActualSampleRate(std::optional<double> rate) {
    if (assignIfChanged(actualSampleRate_, rate))
        emit actualSampleRateChanged();
}

void AudioEngineManager::setLatencyEstimate(std::optional<LatencyEstimate> estimate) {
    if (assignIfChanged(latencyEstimate_, std::move(estimate)))
        emit latencyEstimateChanged();
}

void AudioEngineManager::setSupportedBufferRange(std::optional<BufferRange> range) {
    if (assignIfChanged(supportedBufferRange_, range))
        emit supportedBufferRangeChanged();
}

void AudioEngineManager::setStarting(bool starting) {
    if (assignIfChanged(isStarting_, starting))
        emit isStartingChanged();
}

void AudioEngineManager::setPluginLoadFailure(std::optional<PluginLoadFailure> failure) {
    if (assignIfChanged(pluginLoadFailure_, std::move(failure)))
        emit pluginLoadFailureChanged();
}

std::uint64_t AudioEngineManager::nonFinitePeriods(int slotID) const {
    if (slotID < 0 || slotID >= kChannelCount)
        return 0;
    if (isRunning_)
        if (auto* effect = channels_[slotID]->effect())
            return effect->nonFinitePeriods();
    return stripStats_[std::size_t(slotID)].nonFinitePeriods;
}

std::uint64_t AudioEngineManager::latePeriods(int slotID) const {
    if (slotID < 0 || slotID >= kChannelCount)
        return 0;
    if (isRunning_)
        if (auto* effect = channels_[slotID]->effect())
            return effect->latePeriods();
    return stripStats_[std::size_t(slotID)].latePeriods;
}

std::chrono::nanoseconds AudioEngineManager::longestStripRender(int slotID) const {
    if (slotID < 0 || slotID >= kChannelCount)
        return {};
    if (isRunning_)
        return std::chrono::nanoseconds(engine_->renderer().stats().sinceStart().groupNanos[std::size_t(slotID)]);
    return stripStats_[std::size_t(slotID)].longestRender;
}

std::chrono::nanoseconds AudioEngineManager::longestPeriodRender() const {
    if (isRunning_)
        return std::chrono::nanoseconds(engine_->renderer().stats().sinceStart().periodNanos);
    return longestPeriodRender_;
}

void AudioEngineManager::lockMemoryOnce() {
    if (!lockMemory_ || memoryLockTried_)
        return;
    memoryLockTried_ = true;
    const MemoryLockResult result = lockProcessMemory();
    memoryLocked_ = result.locked;
    if (result.locked)
        qCInfo(lcEngine, "Memory locked against paging");
    else
        qCWarning(lcEngine, "Memory not locked against paging: %s", qUtf8Printable(result.reason));
}

void AudioEngineManager::nameDropoutSuspect() {
    if (!isRunning_)
        return;
    const auto window = engine_->renderer().stats().takeWindow();
    const ChannelSlot* slowest = nullptr;
    std::uint64_t slowestNanos = 0;
    for (const auto& strip : runningStrips_) {
        const auto nanos = window.groupNanos[std::size_t(strip.slot->id())];
        if (nanos > slowestNanos) {
            slowest = strip.slot;
            slowestNanos = nanos;
        }
    }
    const double periodMicros = runningRate_ > 0 ? actualBufferFrames_.value_or(bufferFrames_) / runningRate_ * 1e6 : 0;
    if (slowest && periodMicros > 0)
        qCInfo(lcEngine, "Dropout %d: the slowest strip was channel %d, %.0f µs of the %.0f µs period (%.0f %%)",
               dropouts_.count(), slowest->id() + 1, slowestNanos / 1e3, periodMicros,
               slowestNanos / 1e3 / periodMicros * 100.0);
}

double AudioEngineManager::requestedBufferMilliseconds() const {
    const double frames = actualBufferFrames_ ? double(*actualBufferFrames_) : double(bufferFrames_);
    double rate = (isRunning_ && actualSampleRate_) ? *actualSampleRate_ : sampleRate_;
    if (!(rate > 0))
        rate = sampleRate_;
    return frames / rate * 1000.0;
}

void AudioEngineManager::updateLatencyLine() {
    if (assignIfChanged(latencyLine_, latencyLine(actualBufferFrames_, latencyEstimate_, bufferFrames_,
                                                  supportedBufferRange_, requestedBufferMilliseconds())))
        emit latencyLineChanged();
}


} // namespace corvane
