// Start and stop: turning the strips into a running graph on the selected device
// and tearing it down again, keeping what must survive a rebuild.
#include "engine/AudioEngineManager.h"

#include "engine/LevelMeter.h"
#include "platform/engine/Tap.h"
#include "platform/lv2/IsolatedEffect.h"
#include "platform/system/KeepForever.h"
#include "platform/system/Logging.h"
#include "platform/system/ThreadScheduling.h"

#include <QLocale>
#include <QPointer>
#include <QSocketNotifier>
#include <cmath>
#include <utility>

namespace corvane {

namespace {

QString rateForUser(double rate) {
    return QLocale().toString(static_cast<qlonglong>(std::trunc(rate))) + QStringLiteral(" Hz");
}

} // namespace

Async<void> AudioEngineManager::start(bool automaticRestart) {
    QPointer<AudioEngineManager> self(this);
    ++startsPending_;
    setStarting(true);
    // One start at a time: a start waits for the one before it to end.
    while (startInFlight_) {
        const Task busy(startInFlight_);
        co_await busy.join();
        if (!self)
            co_return;
    }
    auto mine = std::make_shared<TaskState>();
    startInFlight_ = mine;
    try {
        // Again as long as another device was selected while it waited.
        while (co_await startSequence(automaticRestart) && self)
            automaticRestart = true; // the user's request already emptied the throttle
    } catch (const std::exception& e) {
        qCWarning(lcEngine, "Start failed unexpectedly: %s", e.what());
        if (self)
            failStart(QString::fromUtf8(e.what()));
    }
    if (self && startInFlight_ == mine)
        startInFlight_.reset();
    // A queued start counted itself in when it arrived: the flag stays up
    // until the last one has ended.
    if (self && --startsPending_ == 0)
        setStarting(false);
    mine->markDone();
}

void AudioEngineManager::startByUser() {
    if (isStarting_)
        return;
    spawn(start(false));
}

void AudioEngineManager::toggle() {
    if (isRunning_)
        stop();
    else
        startByUser();
}

AudioEngineManager::Checkpoint AudioEngineManager::checkpoint(const AudioDevice& device, std::uint64_t run) const {
    if (stopCount_ != run)
        return Checkpoint::Abandoned;
    if (!selectedDevice() || *selectedDevice() != device)
        return Checkpoint::Reselected;
    return Checkpoint::Continue;
}

Async<bool> AudioEngineManager::startSequence(bool automaticRestart) {
    QPointer<AudioEngineManager> self(this);
    if (!selectedDevice()) {
        setErrorMessage(QStringLiteral("Select an audio device."));
        co_return false;
    }
    if (!automaticRestart)
        recovery_.forgetAttempts();
    stop(); // also gives us a fresh engine
    const std::uint64_t run = stopCount_;
    setErrorMessage(std::nullopt);
    setWarningMessage(std::nullopt);
    recovery_.clearInterruption();
    stallMessage_.reset();
    const AudioDevice device = *selectedDevice();
    // After every wait: a stop() abandons this start; another selected device
    // (the user's choice, or the device-list handling dropping a vanished one)
    // starts it again on that device, or ends it when there is none, keeping
    // whatever message that handling set. Yields whether to start again.
    auto afterWait = [&]() -> std::optional<bool> {
        if (!self)
            return false;
        switch (checkpoint(device, run)) {
        case Checkpoint::Continue:
            return std::nullopt;
        case Checkpoint::Abandoned:
            return false;
        case Checkpoint::Reselected:
            stop();
            return selectedDevice().has_value();
        }
        return false;
    };

    const bool rateAccepted = co_await prepareDevice();
    if (auto again = afterWait())
        co_return *again;
    const HardwareFormats formats = co_await moveEngine(*engine_, device);
    if (auto again = afterWait())
        co_return *again;

    dropouts_.watch(device.id);

    const int inputChannelCount = formats.input.channels;
    const int outputChannelCount = formats.output.channels;
    const double rate = formats.input.sampleRate > 0 ? formats.input.sampleRate : sampleRate_;
    setActualSampleRate(rate);
    if (std::abs(rate - sampleRate_) >= 1.0) {
        setWarningMessage(rateAccepted ? QStringLiteral("The device stayed at %1 instead of the requested %2 - the "
                                                        "routing runs at the device's rate.")
                                             .arg(rateForUser(rate), rateForUser(sampleRate_))
                                       : QStringLiteral("The device doesn't support %1 and runs at %2 instead.")
                                             .arg(rateForUser(sampleRate_), rateForUser(rate)));
    }
    if (inputChannelCount == 0 || outputChannelCount == 0) {
        stop();
        setErrorMessage(QStringLiteral(
            "The selected device reports an invalid format (0 channels). Try a different device or sample rate."));
        co_return false;
    }

    QList<RoutingPlan::SlotRequest> requests;
    // What each strip will play: its channels as planned here, its plug-in as loaded below.
    QList<ChannelSlot::StartChoices> builtFrom;
    for (auto* slot : channels_) {
        requests.append({slot->id(), slot->inputChannel(), slot->inputStereo(), slot->outputChannel(),
                         slot->outputStereo()});
        builtFrom.append(slot->startChoices());
    }
    const RoutingPlan plan(requests, inputChannelCount, outputChannelCount);
    QList<ActiveStrip> strips;
    for (const auto& route : plan.routes)
        strips.append({route, channels_[route.slotID]});
    if (strips.isEmpty()) {
        stop();
        setErrorMessage(QStringLiteral(
            "No channel has both an input and an output channel selected (within what the device offers)."));
        co_return false;
    }

    // Every effect is loaded before any of the graph exists, so the graph is
    // built at once from what loaded.
    QList<ChannelSlot*> loading;
    for (const auto& strip : strips)
        loading.append(strip.slot);
    const EffectLoadSettings effectSettings{rate, engine_->periodLimit(), actualBufferFrames_.value_or(bufferFrames_),
                                            isolation_, pluginHostProgram_};
    std::function<bool()> stillWanted = [this, self, device, run] {
        return self && checkpoint(device, run) == Checkpoint::Continue;
    };
    EffectLoad loaded = co_await loadEffects(loading, effectSettings, clock_, std::move(stillWanted));
    if (auto again = afterWait())
        co_return *again;
    if (loaded.outcome == EffectLoad::Outcome::Failed) {
        stop();
        setPluginLoadFailure(loaded.failure);
        co_return false;
    }
    // A strip may have been given another plug-in while an earlier one loaded.
    for (int i = 0; i < strips.size(); ++i) {
        const auto& component = loaded.effects[std::size_t(i)].component;
        builtFrom[strips[i].slot->id()].pluginUri = component ? component->uri : QString();
    }
    if (auto error = buildGraph(GraphSnapshot{plan, strips, std::move(loaded.effects), formats, rate})) {
        failStart(*error);
        co_return false;
    }
    midiControl_->arm(channels_);
    // Unseen meters only need their levels by the end of the run (stop()
    // takes in what is left): the tap thread may wake a quarter as often.
    engine_->setTapChunksPerWake(meters_->isShown() ? 1 : engine::Tap::kMaxChunksPerWake);
    std::string startError;
    if (!engine_->start(startError)) {
        failStart(QStringLiteral("Starting audio graph (engine.start) failed: %1").arg(QString::fromStdString(startError)));
        co_return false;
    }
    configurationChangeObserver_ = connect(engine_.get(), &engine::Engine::configurationChanged, this,
                                           &AudioEngineManager::handleConfigurationChange);
    applyGains(plan, strips);
    runningStrips_ = strips;
    runningRate_ = rate;
    for (auto* slot : channels_)
        slot->setPlayingChoices(builtFrom[slot->id()]);
    stripStats_ = {};
    longestPeriodRender_ = {};
    setRunning(true);
    qCInfo(lcEngine, "Engine started on “%s” - %d in / %d out @ %f Hz, buffer %u, %lld active strips",
           qUtf8Printable(device.name), inputChannelCount, outputChannelCount, rate, actualBufferFrames_.value_or(0),
           static_cast<long long>(strips.size()));
    followDeviceSettings(device.id);
    meters_->start([this] { watchEffects(); });
    // The audio thread runs by now: the hosts take its priority before the
    // latency estimate, or their first periods on a busy machine come late;
    // below they hear again once memory is locked.
    audioThreadPriority_ = highestRealtimePriority();
    for (const auto& strip : strips)
        if (auto* isolated = dynamic_cast<lv2::IsolatedEffect*>(strip.slot->effect())) {
            watchHost(*strip.slot, *isolated);
            settledEdits_[std::size_t(strip.slot->id())].reset();
            shareScheduling(*strip.slot, *isolated);
        }
    co_await computeLatencyEstimate(device.id, rate, strips);
    if (!self || stopCount_ != run || !isRunning_)
        co_return false;
    latencyCriticalActivity_ = std::make_unique<ProcessActivity>(QStringLiteral("Real-time multi-channel audio routing"));
    lockMemoryOnce();
    audioThreadPriority_ = highestRealtimePriority();
    for (const auto& strip : runningStrips_)
        if (auto* isolated = dynamic_cast<lv2::IsolatedEffect*>(strip.slot->effect()))
            shareScheduling(*strip.slot, *isolated);
    co_return false;
}

std::optional<QString> AudioEngineManager::buildGraph(GraphSnapshot snapshot) {
    const RoutingPlan& plan = snapshot.plan;
    const QList<ActiveStrip>& strips = snapshot.strips;
    const double rate = snapshot.rate;
    combiner_ = std::make_shared<MatrixMixerNode>();
    engine_->attach(combiner_->unit());
    if (auto error = combiner_->configure(plan.combinerInputChannelCounts(), {plan.outputChannelCount}, rate))
        return QStringLiteral("Configuring combiner failed: %1").arg(*error);

    QList<std::shared_ptr<MatrixMixerNode>> built;
    for (const auto& strip : strips) {
        auto splitter = std::make_shared<MatrixMixerNode>();
        engine_->attach(splitter->unit());
        engine_->setTimingGroup(*splitter->unit(), strip.slot->id());
        if (auto error = splitter->configure({plan.inputChannelCount}, {strip.route.inputWidth()}, rate))
            return QStringLiteral("Configuring splitter for channel %1 failed: %2").arg(strip.slot->id() + 1).arg(*error);
        built.append(splitter);
    }
    splitters_ = built;

    // One connection from the device input fans out to every splitter.
    const engine::Format fanOut = splitters_.first()->unit()->inputFormat(0).value_or(snapshot.formats.input);
    std::vector<engine::ConnectionPoint> points;
    for (const auto& splitter : splitters_)
        points.push_back({splitter->unit().get(), 0});
    if (!engine_->connect(engine_->inputNode(), 0, points, fanOut))
        return QStringLiteral("Connecting the device input failed: %1").arg(QString::fromStdString(engine_->lastError()));

    auto combinerOutput = combiner_->unit()->outputFormat(0);
    if (!combinerOutput)
        combinerOutput = MatrixMixerNode::makeFormat(plan.outputChannelCount, rate);
    if (!combinerOutput)
        return QStringLiteral("Failed to determine combiner output format.");

    for (int i = 0; i < strips.size(); ++i) {
        const auto& strip = strips[i];
        const int n = strip.slot->id() + 1;
        auto& splitter = *splitters_[i]->unit();
        auto splitterOutput = splitter.outputFormat(0);
        if (!splitterOutput)
            splitterOutput = MatrixMixerNode::makeFormat(strip.route.inputWidth(), rate);
        if (!splitterOutput)
            return QStringLiteral("Failed to determine ") + QStringLiteral("splitter output for channel ") +
                   QString::number(n) + QStringLiteral(" format.");
        std::optional<engine::Format> combinerInput;
        if (i < combiner_->unit()->inputBusCount())
            combinerInput = combiner_->unit()->inputFormat(i);
        if (!combinerInput)
            combinerInput = MatrixMixerNode::makeFormat(strip.route.outputWidth(), rate);
        if (!combinerInput)
            return QStringLiteral("Failed to determine ") + QStringLiteral("combiner input for channel ") +
                   QString::number(n) + QStringLiteral(" format.");

        if (auto& loaded = snapshot.effects[std::size_t(i)]; loaded.effect) {
            if (auto error = attachEffect(*strip.slot, std::move(loaded), splitter, i, *splitterOutput, *combinerInput))
                return error;
            continue;
        }
        // A strip without an effect: its input and output levels are one signal.
        if (!engine_->connect(splitter, 0, *combiner_->unit(), i, *combinerInput))
            return QStringLiteral("Connecting channel %1 failed: %2").arg(n).arg(QString::fromStdString(engine_->lastError()));
        LevelStore* store = &meters_->store();
        const int slot = strip.slot->id();
        engine_->installTap(splitter, 0, levelTapFrames(meters_->isShown()), *combinerInput,
                            [store, slot](const float* const* channels, int count, std::uint32_t frames) {
                                recordLevels(*store, slot, true, true, channels, count, frames);
                            });
    }

    if (!engine_->connect(*combiner_->unit(), 0, engine_->outputNode(), 0, *combinerOutput))
        return QStringLiteral("Connecting the device output failed: %1").arg(QString::fromStdString(engine_->lastError()));
    std::string error;
    if (!engine_->prepare(error))
        return QStringLiteral("Preparing the audio graph failed: %1").arg(QString::fromStdString(error));
    return std::nullopt;
}

void AudioEngineManager::applyGains(const RoutingPlan& plan, const QList<ActiveStrip>& strips) {
    int combinerInputs = 0;
    for (int i = 0; i < strips.size(); ++i) {
        const auto& route = strips[i].route;
        splitters_[i]->setUnityVolumes(plan.inputChannelCount, route.inputWidth());
        splitters_[i]->applyCrosspoints(RoutingPlan::splitterCrosspoints(route, plan.inputChannelCount));
        combinerInputs += route.outputWidth();
    }
    combiner_->setUnityVolumes(combinerInputs, plan.outputChannelCount);
    combiner_->applyCrosspoints(plan.combinerCrosspoints());
}

void AudioEngineManager::failStart(const QString& message) {
    stop();
    setErrorMessage(QStringLiteral("Failed to start engine: %1").arg(message));
}

std::unique_ptr<engine::Engine> AudioEngineManager::makeEngine() const {
    auto engine = std::make_unique<engine::Engine>(hardware_);
    engine->setStallPatience(stallPatience_);
    return engine;
}

void AudioEngineManager::stop() {
    ++stopCount_;
    // Stopping while a restart is pending ends the recovery.
    recovery_.abandon();
    if (engine_ && isRunning_)
        engine_->deliverTaps();
    meters_->stop(isRunning_);
    dropouts_.unwatch();
    stopFollowingDeviceSettings();
    if (configurationChangeObserver_) {
        disconnect(configurationChangeObserver_);
        configurationChangeObserver_ = {};
    }
    latencyCriticalActivity_.reset();

    ChannelSlot* hung = nullptr;
    bool stopped = false;
    if (engine_) {
        for (const auto& splitter : splitters_)
            engine_->removeTap(*splitter->unit(), 0);
        for (auto* slot : channels_)
            if (slot->effectNode())
                engine_->removeTap(*slot->effectNode(), 0);
        if (isRunning_) {
            const auto periods = engine_->renderer().stats().sinceStart();
            longestPeriodRender_ = std::chrono::nanoseconds(periods.periodNanos);
            for (auto* slot : channels_) {
                auto& stats = stripStats_[std::size_t(slot->id())];
                stats.longestRender = std::chrono::nanoseconds(periods.groupNanos[std::size_t(slot->id())]);
                if (auto* effect = slot->effect()) {
                    stats.nonFinitePeriods = effect->nonFinitePeriods();
                    stats.latePeriods = effect->latePeriods();
                }
            }
        }
        stopped = engine_->stop();
        midiControl_->disarm();
        if (!stopped)
            for (auto* slot : channels_)
                if (slot->effectNode() && slot->effectNode().get() == engine_->stalledUnit())
                    hung = slot;
    }
    // Before the hosts go: a notifier must not outlive its descriptor.
    for (QSocketNotifier*& watcher : hostWatchers_)
        delete std::exchange(watcher, nullptr);
    for (auto* slot : channels_)
        slot->setPlayingChoices(std::nullopt);
    // A hung plug-in cannot be asked for its state; its last saved one stays.
    // Before the units are reset: a host that hangs is ended by then, rather
    // than asked to reset and waited for, one after the other.
    saveEffectStates(hung);
    if (stopped)
        engine_->reset();
    splitters_.clear();
    combiner_.reset();
    // The engine goes with its units, instances and worker threads; a new one
    // waits for the next start. One the render thread is stuck in stays for good.
    if (engine_ && engine_->isAbandoned())
        keepForever(std::shared_ptr<engine::Engine>(std::move(engine_)));
    engine_ = makeEngine();
    runningStrips_.clear();
    latencyComplaints_.clear();
    if (isRunning_)
        qCInfo(lcEngine, "Engine stopped");
    setRunning(false);
    setActualBufferFrames(std::nullopt);
    setActualSampleRate(std::nullopt);
    setLatencyEstimate(std::nullopt);
    if (hung) {
        const QString message = QStringLiteral("“%1” on channel %2 stopped responding - playback was stopped.")
                                    .arg(hung->component() ? hung->component()->name : QStringLiteral("Plugin"))
                                    .arg(hung->id() + 1);
        qCWarning(lcEngine, "%s", qUtf8Printable(message));
        stallMessage_ = message;
        setErrorMessage(message);
    }
}

} // namespace corvane
