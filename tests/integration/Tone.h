#pragma once
// A test signal that a feeding client and a listening client can both compute
// for any absolute JACK frame time, so what arrives can be compared sample by
// sample with what was sent in the same cycle.

#include <cmath>
#include <cstdint>
#include <numbers>

namespace corvane::test {

struct Tone {
    float amplitude = 0.0f;
    // Samples per cycle of the sine; 0 makes the tone a constant.
    std::uint32_t periodFrames = 0;

    float at(std::uint64_t frame) const {
        if (periodFrames == 0)
            return amplitude;
        // The phase comes from the frame modulo the period, so it stays exact
        // however long the server has been running.
        const double phase = static_cast<double>(frame % periodFrames) / periodFrames;
        return static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * phase));
    }
};

} // namespace corvane::test
