#include "engine/LevelMeter.h"

#include "platform/engine/VectorOps.h"

#include <algorithm>
#include <cmath>

namespace corvane {

using Reading = LevelStore::Reading;

std::pair<Reading, Reading> measureLevels(const float* const* channels, int channelCount, std::uint32_t frames) {
    Reading readings[2];
    if (!channels || frames == 0)
        return {readings[0], readings[1]};
    const int n = std::min(channelCount, 2);
    for (int c = 0; c < n; ++c) {
        const float* samples = channels[c];
        if (!samples)
            continue;
        // A NaN or infinity (a broken driver buffer, a misbehaving plug-in)
        // would stick in the meter; it is measured as silence.
        const auto levels = engine::vec::levels(samples, frames);
        readings[c] = Reading{levels.peak, float(std::sqrt(levels.sumSquares / double(frames)))};
    }
    return {readings[0], readings[1]};
}

void recordLevels(LevelStore& store, int slot, bool input, bool output, const float* const* channels,
                  int channelCount, std::uint32_t frames) {
    const auto [left, right] = measureLevels(channels, channelCount, frames);
    store.fold(slot, left, right, input, output);
}

Reading decayedLevel(Reading current, Reading collected) {
    auto fall = [](float v) {
        const float d = v * 0.9f;
        return d < 0.005f ? 0.0f : d;
    };
    return Reading{std::max(collected.peak, fall(current.peak)), std::max(collected.rms, fall(current.rms))};
}

} // namespace corvane
