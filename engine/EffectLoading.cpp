#include "engine/EffectLoading.h"

#include "platform/lv2/IsolatedEffect.h"
#include "platform/lv2/Lv2Effect.h"
#include "platform/system/Logging.h"

#include <QString>
#include <QUuid>

#include <chrono>
#include <string>
#include <utility>

namespace corvane {

namespace {

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

// One plug-in's load: the instance, or why there is none, or overtaken.
struct Attempt {
    std::unique_ptr<lv2::HostedEffect> effect;
    QString reason;
    bool overtaken = false;
};

// A plug-in in a host of its own: the host limits both its load and its
// restore, and a host that fails either is gone with what it did.
Async<Attempt> loadIsolated(PluginComponent component, std::optional<QByteArray> saved,
                            EffectLoadSettings settings, const std::function<bool()>& stillWanted) {
    auto load = [uri = component.uri.toStdString(), settings, text = saved ? saved->toStdString() : std::string(),
                 hasState = saved.has_value()] {
        std::string reason;
        lv2::IsolatedEffect::Options options;
        if (!settings.hostProgram.empty())
            options.hostProgram = settings.hostProgram;
        std::unique_ptr<lv2::IsolatedEffect> effect = lv2::IsolatedEffect::instantiate(
            uri, settings.rate, settings.maxFrames, settings.nominalFrames, options, reason);
        // A state the host refuses leaves the plug-in at its defaults, as in process.
        if (effect && hasState)
            effect->restoreState(text);
        return std::make_pair(std::move(effect), reason);
    };
    auto loaded = co_await runDetached(std::move(load));
    if (!stillWanted())
        co_return Attempt{nullptr, {}, true};
    if (!loaded)
        co_return Attempt{nullptr, QStringLiteral("Loading was cancelled."), false};
    if (!loaded->first)
        co_return Attempt{nullptr, QString::fromStdString(loaded->second), false};
    co_return Attempt{std::move(loaded->first), {}, false};
}

Async<Attempt> loadOne(PluginComponent component, std::optional<QByteArray> saved, EffectLoadSettings settings,
                       Clock& clock, const std::function<bool()>& stillWanted) {
    auto overtaken = [] { return Attempt{nullptr, {}, true}; };
    auto failed = [](QString reason) { return Attempt{nullptr, std::move(reason), false}; };
    const QString cancelled = QStringLiteral("Loading was cancelled.");

    // Instantiation may be slow (plug-ins load files, build tables): never on
    // the main thread, never on the real-time one.
    // Named, not written inside the co_await: g++ 12 destroys a capturing
    // lambda twice when both share one expression.
    auto instantiate = [uri = component.uri.toStdString(), settings] {
        std::string reason;
        std::unique_ptr<lv2::Lv2Effect> effect =
            lv2::Lv2Effect::instantiate(uri, settings.rate, settings.maxFrames, settings.nominalFrames, reason);
        return std::make_pair(std::move(effect), reason);
    };
    auto loaded = co_await runDetached(std::move(instantiate));
    // The instance (if any) goes with `loaded` when the start was overtaken.
    if (!stillWanted())
        co_return overtaken();
    std::unique_ptr<lv2::Lv2Effect> effect = loaded ? std::move(loaded->first) : nullptr;
    if (!effect)
        co_return failed(loaded ? QString::fromStdString(loaded->second) : cancelled);
    if (!saved)
        co_return Attempt{std::move(effect), {}, false};

    // On the pool like instantiation, and before the unit joins a graph, so
    // never beside run(). A state that does not decode or belongs to another
    // plug-in leaves the effect at its defaults; the saved settings themselves
    // stay. Only the plug-in's own restore is timed: reading the text may wait
    // for the LV2 world while the catalog reads it, which on a busy machine
    // takes longer than any plug-in should.
    auto restoring = std::make_shared<Restoring>(Restoring{std::move(effect), nullptr});
    auto read = [restoring, text = saved->toStdString()] {
        restoring->state = restoring->effect->readState(text);
        return true;
    };
    const bool wasRead = (co_await runDetached(std::move(read))).has_value();
    if (!stillWanted())
        co_return overtaken();
    auto restore = [restoring] {
        if (restoring->state)
            restoring->effect->applyState(*restoring->state);
        return true;
    };
    std::optional<bool> restored;
    if (wasRead)
        restored = co_await runDetachedWithin(clock, kRestorePatience, std::move(restore));
    if (!stillWanted())
        co_return overtaken();
    if (!restored) {
        // The effect is left to the restoring thread, which may never come back.
        const bool wasCancelled = co_await currentTaskCancelled();
        co_return failed(wasCancelled ? cancelled
                                      : QStringLiteral("“%1” did not finish restoring its settings within %2 seconds.")
                                            .arg(component.name)
                                            .arg(kRestorePatience.count()));
    }
    effect = std::move(restoring->effect);
    // Freeing the state waits for the world too: not on the main thread.
    if (restoring->state)
        backgroundPool().start([restoring] { restoring->state.reset(); });
    co_return Attempt{std::move(effect), {}, false};
}

} // namespace

Async<EffectLoad> loadEffects(QList<ChannelSlot*> strips, EffectLoadSettings settings, Clock& clock,
                              std::function<bool()> stillWanted) {
    EffectLoad load;
    for (ChannelSlot* slot : strips) {
        // Read as each load begins: a strip changed while an earlier one
        // loaded is loaded as it is now.
        LoadedEffect strip{nullptr, slot->component(), slot->lastPluginState()};
        if (strip.component) {
            Attempt attempt;
            if (settings.isolated)
                attempt = co_await loadIsolated(*strip.component, strip.state, settings, stillWanted);
            else
                attempt = co_await loadOne(*strip.component, strip.state, settings, clock, stillWanted);
            if (attempt.overtaken)
                co_return EffectLoad{EffectLoad::Outcome::Overtaken, {}, {}};
            if (!attempt.effect) {
                qCInfo(lcEngine, "Plugin “%s” failed to load on channel %d: %s", qUtf8Printable(strip.component->name),
                       slot->id() + 1, qUtf8Printable(attempt.reason));
                co_return EffectLoad{EffectLoad::Outcome::Failed,
                                     {},
                                     PluginLoadFailure{QUuid::createUuid(), slot->id(), strip.component->name,
                                                       attempt.reason}};
            }
            strip.effect = std::move(attempt.effect);
        }
        load.effects.push_back(std::move(strip));
    }
    co_return load;
}

} // namespace corvane
