#pragma once
// Loading the strips' chosen effects for a start, before any of its graph
// exists: strip by strip, each plug-in is instantiated and given its saved
// settings off the main thread. The graph is then built from what loaded in
// one go, and a plug-in that will not load ends the start with nothing
// attached. Main thread only.

#include "engine/ChannelSlot.h"
#include "engine/PluginLoadFailure.h"
#include "platform/lv2/HostedEffect.h"
#include "platform/system/Clock.h"
#include "platform/system/Task.h"
#include "plugins/PluginComponent.h"

#include <QByteArray>
#include <QList>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvane {

// One strip's effect, ready to join a graph (none for a strip without one).
struct LoadedEffect {
    std::unique_ptr<lv2::HostedEffect> effect;
    // The strip's choice and settings as its load read them: a strip given
    // others since keeps those for the next build, not the loaded effect's.
    std::optional<PluginComponent> component;
    std::optional<QByteArray> state;
};

struct EffectLoad {
    enum class Outcome { Loaded, Failed, Overtaken };
    Outcome outcome = Outcome::Loaded;
    // Loaded: one per strip, in the order the strips were given.
    std::vector<LoadedEffect> effects;
    // Failed: the first strip whose effect would not load, and why (logged).
    PluginLoadFailure failure;
};

// What every plug-in is instantiated for: the graph's rate, the longest
// period the device may switch to while running and the one it runs now;
// and whether each runs in a host process of its own.
struct EffectLoadSettings {
    double rate = 0.0;
    std::uint32_t maxFrames = 0;
    std::uint32_t nominalFrames = 0;
    bool isolated = false;
    std::string hostProgram; // empty: the one beside the running program
};

// `stillWanted` is asked after every wait; once it says no, loading ends as
// overtaken and the instances loaded so far go with it. `clock` times each
// plug-in's restore of its settings.
Async<EffectLoad> loadEffects(QList<ChannelSlot*> strips, EffectLoadSettings settings, Clock& clock,
                              std::function<bool()> stillWanted);

} // namespace corvane
