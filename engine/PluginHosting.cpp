// Running a strip's effect between its splitter and the combiner, and keeping
// the effect's settings across every stop and rebuild.
#include "engine/AudioEngineManager.h"

#include "engine/LevelMeter.h"
#include "platform/lv2/Lv2Effect.h"
#include "platform/system/Logging.h"

#include <QPointer>
#include <QUuid>

#include <chrono>
#include <memory>

namespace corvane {

namespace {

constexpr std::uint32_t kTapFrames = 2048;
// How long a plug-in may take to restore its saved settings. Restoring reads
// files, and one that reads from something that never answers (a FIFO given
// as its impulse response) never returns.
constexpr std::chrono::seconds kRestorePatience{10};

// Moves between the main thread and the thread restoring the effect; the
// restore's job may outlive the start that gave up waiting for it, and the
// effect goes with the job then.
struct Restoring {
    std::unique_ptr<lv2::Lv2Effect> effect;
    lv2::Lv2Effect::SavedStatePtr state;
};

} // namespace

Async<AudioEngineManager::BuildResult> AudioEngineManager::hostEffect(ChannelSlot& slot, engine::Unit& splitter,
                                                                      int combinerBus, engine::Format splitterOutput,
                                                                      engine::Format combinerInput, double rate,
                                                                      const AudioDevice& device, std::uint64_t run) {
    QPointer<AudioEngineManager> self(this);
    QPointer<ChannelSlot> strip(&slot);
    const PluginComponent component = *slot.component();
    const std::string uri = component.uri.toStdString();
    // The plug-in is promised blocks up to the longest period the device may
    // switch to while running, and told the one it runs now.
    const std::uint32_t maxFrames = engine_->periodLimit();
    const std::uint32_t nominalFrames = actualBufferFrames_.value_or(bufferFrames_);

    // Instantiation may be slow (plug-ins load files, build tables): never on
    // the main thread, never on the real-time one.
    // Named, not written inside the co_await: g++ 12 destroys a capturing
    // lambda twice when both share one expression.
    auto instantiate = [uri, rate, maxFrames, nominalFrames] {
        std::string reason;
        std::unique_ptr<lv2::Lv2Effect> effect = lv2::Lv2Effect::instantiate(uri, rate, maxFrames, nominalFrames, reason);
        return std::make_pair(std::move(effect), reason);
    };
    auto loaded = co_await runDetached(std::move(instantiate));
    // The instance (if any) goes with `loaded` when this start was overtaken.
    if (!self || !strip || checkpoint(device, run) != Checkpoint::Continue)
        co_return BuildResult{BuildResult::Kind::Overtaken, {}};
    auto failLoad = [&](const QString& reason) {
        qCInfo(lcEngine, "Plugin “%s” failed to load on channel %d: %s", qUtf8Printable(component.name),
               slot.id() + 1, qUtf8Printable(reason));
        stop();
        setPluginLoadFailure(PluginLoadFailure{QUuid::createUuid(), slot.id(), component.name, reason});
        return BuildResult{BuildResult::Kind::PluginFailed, {}};
    };
    std::unique_ptr<lv2::Lv2Effect> effect = loaded ? std::move(loaded->first) : nullptr;
    if (!effect)
        co_return failLoad(loaded ? QString::fromStdString(loaded->second) : QStringLiteral("Loading was cancelled."));

    if (const auto& saved = slot.lastPluginState()) {
        // On the pool like instantiation, and before the unit joins the graph,
        // so never beside run(). A state that does not decode or belongs to
        // another plug-in leaves the effect at its defaults; the saved
        // settings themselves stay. Only the plug-in's own restore is timed: reading the text may wait
        // for the LV2 world while the catalog reads it, which on a busy
        // machine takes longer than any plug-in should.
        auto restoring = std::make_shared<Restoring>(Restoring{std::move(effect), nullptr});
        auto read = [restoring, text = saved->toStdString()] {
            restoring->state = restoring->effect->readState(text);
            return true;
        };
        const bool wasRead = (co_await runDetached(std::move(read))).has_value();
        if (!self || !strip || checkpoint(device, run) != Checkpoint::Continue)
            co_return BuildResult{BuildResult::Kind::Overtaken, {}};
        auto restore = [restoring] {
            if (restoring->state)
                restoring->effect->applyState(*restoring->state);
            return true;
        };
        std::optional<bool> restored;
        if (wasRead)
            restored = co_await runDetachedWithin(clock_, kRestorePatience, std::move(restore));
        if (!self || !strip || checkpoint(device, run) != Checkpoint::Continue)
            co_return BuildResult{BuildResult::Kind::Overtaken, {}};
        if (!restored) {
            // The effect is left to the restoring thread, which may never come back.
            const bool cancelled = co_await currentTaskCancelled();
            co_return failLoad(cancelled ? QStringLiteral("Loading was cancelled.")
                                         : QStringLiteral("“%1” did not finish restoring its settings within %2 seconds.")
                                               .arg(component.name)
                                               .arg(kRestorePatience.count()));
        }
        effect = std::move(restoring->effect);
        // Freeing the state waits for the world too: not on the main thread.
        if (restoring->state)
            backgroundPool().start([restoring] { restoring->state.reset(); });
    }

    // The unit owns the effect from here on; the strip reaches it through the unit.
    auto unit = std::make_shared<engine::EffectUnit>(std::move(effect));
    slot.setEffectNode(unit);
    engine_->attach(unit);
    engine_->setTimingGroup(*unit, slot.id());
    const int n = slot.id() + 1;
    if (!engine_->connect(splitter, 0, *unit, 0, splitterOutput) ||
        !engine_->connect(*unit, 0, *combiner_->unit(), combinerBus, combinerInput))
        co_return BuildResult{BuildResult::Kind::Failed, QStringLiteral("Connecting the effect on channel %1 failed: %2")
                                                             .arg(n)
                                                             .arg(QString::fromStdString(engine_->lastError()))};
    slot.effect()->setBypass(slot.bypass());
    LevelStore* store = &meters_->store();
    const int id = slot.id();
    engine_->installTap(splitter, 0, kTapFrames, splitterOutput,
                        [store, id](const float* const* channels, int count, std::uint32_t frames) {
                            recordLevels(*store, id, true, false, channels, count, frames);
                        });
    engine_->installTap(*unit, 0, kTapFrames, combinerInput,
                        [store, id](const float* const* channels, int count, std::uint32_t frames) {
                            recordLevels(*store, id, false, true, channels, count, frames);
                        });
    co_return BuildResult{};
}

void AudioEngineManager::saveEffectState(ChannelSlot& slot) {
    // Settings given while it ran (or another effect chosen) are for the next
    // build: the running effect's own are not kept over them.
    if (auto* effect = slot.effect(); effect && !slot.stateReplacedWhileLoaded()) {
        // A state that cannot be saved leaves nothing rather than an older
        // state the user has since changed.
        auto state = effect->saveState();
        if (!state)
            qCWarning(lcEngine, "The settings of “%s” on channel %d could not be saved",
                      qUtf8Printable(slot.component() ? slot.component()->name : QString()), slot.id() + 1);
        slot.setLastPluginState(state ? std::optional<QByteArray>(QByteArray::fromStdString(*state)) : std::nullopt);
    }
    slot.setEffectNode(nullptr);
}

void AudioEngineManager::setBypass(ChannelSlot& slot, bool bypass) {
    slot.setBypassFlag(bypass);
    if (auto* effect = slot.effect())
        effect->setBypass(bypass);
}

void AudioEngineManager::setBypass(int slotID, bool bypass) {
    if (slotID >= 0 && slotID < channels_.size())
        setBypass(*channels_[slotID], bypass);
}

void AudioEngineManager::tryAgainAfterPluginFailure() {
    setPluginLoadFailure(std::nullopt);
    startByUser();
}

void AudioEngineManager::removeFailedPlugin() {
    if (!pluginLoadFailure_)
        return;
    const int slotID = pluginLoadFailure_->slotID;
    setPluginLoadFailure(std::nullopt);
    for (auto* slot : channels_)
        if (slot->id() == slotID) {
            slot->setComponent(std::nullopt);
            break;
        }
    startByUser();
}

void AudioEngineManager::watchEffects() {
    if (!isRunning_)
        return;
    for (const auto& strip : runningStrips_) {
        auto* effect = strip.slot->effect();
        if (effect && effect->resetIfFaulted())
            qCWarning(lcEngine, "Plugin “%s” on channel %d produced audio that is not a number; it was reset",
                      qUtf8Printable(strip.slot->component() ? strip.slot->component()->name : QString()),
                      strip.slot->id() + 1);
    }
    // A plug-in that never returns from its processing: stop() leaves it
    // behind and says which one it was.
    if (engine_->stalledUnit())
        stop();
}

double AudioEngineManager::largestPluginLatency(const QList<ActiveStrip>& strips) {
    double longest = 0.0;
    for (const auto& strip : strips) {
        // Bypassed or not: a bypassed effect keeps its latency on the dry path.
        auto* effect = strip.slot->effect();
        if (!effect)
            continue;
        const double seconds = effect->latencySeconds();
        const float reported = effect->reportedLatencyFrames();
        if (seconds == 0.0 && reported != 0.0f && !latencyComplaints_.contains(effect)) {
            latencyComplaints_.append(effect);
            qCWarning(lcEngine, "Plugin “%s” on channel %d reports a latency of %g frames, which cannot be right - "
                                "counted as none",
                      qUtf8Printable(strip.slot->component() ? strip.slot->component()->name : QString()),
                      strip.slot->id() + 1, double(reported));
        }
        longest = std::max(longest, seconds);
    }
    return longest;
}

} // namespace corvane
