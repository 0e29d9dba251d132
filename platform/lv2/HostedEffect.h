#pragma once
// What the rest of the program needs of a strip's loaded plug-in, wherever it
// runs: in our process (Lv2Effect) or in a host process of its own
// (IsolatedEffect). The threads each call may come from are those of the two
// implementations; both allow the same ones for everything here.

#include "platform/engine/EffectProcessor.h"
#include "platform/lv2/Parameter.h"
#include "platform/lv2/Preset.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane::lv2 {

class HostedEffect : public engine::EffectProcessor {
public:
    // How the plug-in's process ended; always None for one in ours, which
    // takes ours with it instead.
    enum class Fault : int { None, Crashed, StoppedResponding };
    virtual Fault fault() const = 0;

    virtual const std::string& uri() const = 0;
    virtual const std::string& name() const = 0;
    virtual int audioInputCount() const = 0;
    virtual int audioOutputCount() const = 0;

    // The full state as Turtle text; nothing when it cannot be saved.
    virtual std::optional<std::string> saveState() = 0;
    virtual bool restoreState(const std::string& text) = 0;

    virtual void setBypass(bool bypassed) noexcept = 0;
    virtual bool isBypassed() const noexcept = 0;
    virtual bool hasEnablePort() const = 0;

    // Every control port, inputs and outputs, in port order.
    virtual const std::vector<Parameter>& parameters() const = 0;
    virtual bool setParameter(std::uint32_t portIndex, float value) = 0;
    virtual float parameter(std::uint32_t portIndex) const = 0;
    // What the latency port last said, in frames, unchecked (0 without one).
    virtual float reportedLatencyFrames() const = 0;

    // Presets, also while running. The plug-in's own, then the user's, by
    // label; saving the running state as an LV2 preset bundle `label` in
    // `userDir` that any LV2 host finds (its URI, or nothing with `error`
    // set); applying one (false with `error` set). Main thread, except that
    // an in-process loadPreset() must not run there: it may wait for the
    // render thread to finish a period (a host does that waiting itself).
    virtual std::vector<Preset> presets() = 0;
    virtual std::optional<std::string> savePreset(const std::string& label, const std::string& userDir,
                                                  std::string& error) = 0;
    virtual bool loadPreset(const std::string& presetUri, std::string& error) = 0;

    // Periods whose output held NaN or infinity, and bringing a plug-in that
    // made one back to a fresh history (true when it did).
    virtual std::uint64_t nonFinitePeriods() const = 0;
    // Periods whose answer missed the deadline and played the dry input: only
    // a plug-in in a process of its own can be late.
    virtual std::uint64_t latePeriods() const { return 0; }
    virtual bool resetIfFaulted() = 0;
    // The errors and warnings the plug-in logged since the last call.
    virtual std::vector<std::string> takeLoggedProblems() = 0;
};

} // namespace corvane::lv2
