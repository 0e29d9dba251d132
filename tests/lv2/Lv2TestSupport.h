#pragma once
// Shared by the LV2 host tests: the project's fixture plug-ins plus Debian's
// mda-lv2 on the search path, and a way to push blocks through an effect.

#include "platform/lv2/Lv2Effect.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace corvane::test {

inline constexpr const char* gainUri = "urn:corvane:test:gain";
inline constexpr const char* stereoUri = "urn:corvane:test:stereo";
inline constexpr const char* latencyUri = "urn:corvane:test:latency";

// Set before the first lilv world is made, which is the first instantiation.
inline void useFixturePlugins() {
    static const bool set = [] {
        const std::string path = std::string(CORVANE_LV2_FIXTURE_DIR) + ":/usr/lib/lv2";
        return setenv("LV2_PATH", path.c_str(), 1) == 0;
    }();
    ASSERT_TRUE(set);
}

inline std::unique_ptr<lv2::Lv2Effect> loadEffect(const std::string& uri, double rate = 48000,
                                                  std::uint32_t block = 256) {
    useFixturePlugins();
    std::string error;
    auto effect = lv2::Lv2Effect::instantiate(uri, rate, block, error);
    EXPECT_TRUE(effect) << error;
    return effect;
}

// Readies `effect` for `in` and `out` strip channels; when it cannot, the reason is the failure.
inline ::testing::AssertionResult prepared(lv2::Lv2Effect& effect, double rate, std::uint32_t block, int in, int out) {
    std::string error;
    if (effect.prepare(rate, block, in, out, error))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << error;
}
inline ::testing::AssertionResult prepared(const std::unique_ptr<lv2::Lv2Effect>& effect, double rate,
                                           std::uint32_t block, int in, int out) {
    return effect ? prepared(*effect, rate, block, in, out) : ::testing::AssertionFailure() << "it did not load";
}

inline std::uint32_t portOf(const lv2::Lv2Effect& effect, const std::string& symbol) {
    for (const lv2::Parameter& p : effect.parameters())
        if (p.symbol == symbol)
            return p.portIndex;
    ADD_FAILURE() << "no port " << symbol;
    return 0;
}

// Runs one block of per-channel input through `effect`; returns the outputs.
inline std::vector<std::vector<float>> runBlock(lv2::Lv2Effect& effect, const std::vector<std::vector<float>>& in,
                                                int outChannels) {
    const std::uint32_t frames = static_cast<std::uint32_t>(in.front().size());
    std::vector<const float*> inPtrs;
    for (const auto& ch : in)
        inPtrs.push_back(ch.data());
    std::vector<std::vector<float>> out(static_cast<std::size_t>(outChannels), std::vector<float>(frames, -99.0f));
    std::vector<float*> outPtrs;
    for (auto& ch : out)
        outPtrs.push_back(ch.data());
    effect.process(inPtrs.data(), outPtrs.data(), frames);
    return out;
}

// A deterministic, non-repeating test signal.
inline std::vector<float> ramp(std::uint32_t frames, float start = 0.01f, float step = 0.003f) {
    std::vector<float> v(frames);
    for (std::uint32_t i = 0; i < frames; ++i)
        v[i] = start + step * static_cast<float>(i % 331) - 0.5f * static_cast<float>(i % 2);
    return v;
}

} // namespace corvane::test
