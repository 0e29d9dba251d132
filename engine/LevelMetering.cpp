// Moving the tapped levels into the strips every 33 ms, with their fall-off,
// and keeping an eye on the effects while the graph runs.
#include "engine/AudioEngineManager.h"

#include "engine/LevelMeter.h"
#include "platform/lv2/Lv2Effect.h"
#include "platform/system/Logging.h"

#include <QPointer>

namespace corvane {

using namespace std::chrono_literals;

void AudioEngineManager::startMetering() {
    meterTask_.cancel();
    QPointer<AudioEngineManager> self(this);
    meterTask_ = spawnWith([this, self]() -> Async<void> {
        while (!co_await currentTaskCancelled()) {
            // Nobody looking at the meters: the readings pile up in the level
            // store, and the effects are looked after at a more leisurely pace.
            if (!co_await sleepFor(clock_, metersShown_ ? 33ms : 250ms) || !self)
                co_return;
            if (metersShown_)
                collectLevels();
            watchEffects();
        }
    });
}

void AudioEngineManager::collectLevels() {
    const auto readings = levelStore_.collect();
    const auto n = std::size_t(kChannelCount);
    for (auto* slot : channels_) {
        const int id = slot->id();
        if (id < 0 || id >= kChannelCount)
            continue;
        const auto i = std::size_t(id);
        slot->setInputLevel(decayedLevel(slot->inputLevel(), readings[i]));
        slot->setInputLevelRight(decayedLevel(slot->inputLevelRight(), readings[n + i]));
        slot->setOutputLevel(decayedLevel(slot->outputLevel(), readings[2 * n + i]));
        slot->setOutputLevelRight(decayedLevel(slot->outputLevelRight(), readings[3 * n + i]));
    }
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

} // namespace corvane
