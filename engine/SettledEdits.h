#pragma once
// When to ask an isolated plug-in's host for its settings while it plays:
// once its control values have changed and then held still for a second.
// Each ask is a round trip through the host, so not one per change; and a
// host that crashes later takes at most the edits of that last second with it.
// The values are watched rather than the edits themselves, so a change from
// anywhere counts: the user, the generic editor, MIDI, a preset. Main thread.

#include "platform/system/Clock.h"

#include <chrono>
#include <optional>
#include <vector>

namespace corvane {

class SettledEdits {
public:
    static constexpr std::chrono::seconds kSettleTime{1};

    // A new graph: what was seen before is not a change.
    void reset();
    // `values`: the plug-in's control inputs now. True once, when values that
    // changed have then held for kSettleTime.
    bool settledAt(std::vector<float> values, Clock::TimePoint now);

private:
    std::optional<std::vector<float>> seen_;
    std::optional<Clock::TimePoint> changedAt_;
};

} // namespace corvane
