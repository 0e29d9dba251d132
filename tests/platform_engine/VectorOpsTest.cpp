// The packed sample loops against their one-sample-at-a-time meaning, at every
// length around the vector width so that both the packed part and the tail run;
// the meters' levels, and the channel rule built on them.
#include "platform/engine/ChannelRule.h"
#include "platform/engine/VectorOps.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <limits>
#include <vector>

namespace vec = corvane::engine::vec;
using corvane::engine::convertChannels;

namespace {

constexpr std::size_t kLongest = 11;
// Past the end of every buffer, where no kernel may write.
constexpr float kGuard = 12345.0f;

std::vector<float> ramp(std::size_t frames, float step) {
    std::vector<float> v(frames + 1, kGuard);
    for (std::size_t i = 0; i < frames; ++i)
        v[i] = step * static_cast<float>(i + 1) * ((i % 3 == 0) ? -1.0f : 1.0f);
    return v;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

std::vector<std::vector<float>> convert(const std::vector<std::vector<float>>& from, int toCount) {
    std::vector<const float*> in;
    for (const auto& c : from)
        in.push_back(c.data());
    std::vector<std::vector<float>> to(static_cast<std::size_t>(toCount), std::vector<float>(3, -1.0f));
    std::vector<float*> out;
    for (auto& c : to)
        out.push_back(c.data());
    convertChannels(in.data(), static_cast<int>(from.size()), out.data(), toCount, 3);
    return to;
}

} // namespace

TEST(VectorOps, MixingKernelsEqualTheirScalarMeaningAndStayInsideTheBuffer) {
    for (std::size_t frames = 0; frames <= kLongest; ++frames) {
        SCOPED_TRACE(frames);
        const auto a = ramp(frames, 0.125f);
        const auto b = ramp(frames, -0.3f);
        const auto c = ramp(frames, 0.07f);
        std::vector<float> scaled = b, summed = b, averaged = b;
        auto expectScaled = b, expectSummed = b, expectAveraged = b;
        for (std::size_t i = 0; i < frames; ++i) {
            expectScaled[i] = a[i] * 0.5f;
            expectSummed[i] += a[i] * 0.25f;
            expectAveraged[i] = (a[i] + b[i] + c[i]) * (1.0f / 3.0f);
        }
        vec::scale(a.data(), 0.5f, scaled.data(), frames);
        vec::addScaled(a.data(), 0.25f, summed.data(), frames);
        const float* three[] = {a.data(), averaged.data(), c.data()};
        vec::average(three, 3, averaged.data(), frames); // writes over its second source
        EXPECT_EQ(scaled, expectScaled);
        EXPECT_EQ(summed, expectSummed);
        EXPECT_EQ(averaged, expectAveraged);
    }
}

TEST(VectorOps, ScrubZeroesExactlyTheNonFiniteSamplesWhichMetersReadAsSilence) {
    using limits = std::numeric_limits<float>;
    const float bad[] = {limits::infinity(), -limits::infinity(), limits::quiet_NaN(), -limits::quiet_NaN(),
                         limits::signaling_NaN()};
    // Finite extremes that share bits with the bad ones stay as they are.
    std::vector<float> healthy{-0.0f, limits::max(), -limits::max(), limits::denorm_min(), limits::min(),
                               1.0f,  -2.5f,         0.0f,           3.0f,                -limits::max(), 7.0f};
    ASSERT_EQ(healthy.size(), kLongest);
    healthy.push_back(limits::quiet_NaN()); // past the end: neither seen nor touched

    auto untouched = healthy;
    EXPECT_FALSE(vec::scrubNonFinite(untouched.data(), kLongest));
    EXPECT_TRUE(sameBits(untouched, healthy));

    for (std::size_t at = 0; at < kLongest; ++at) {
        SCOPED_TRACE(at);
        auto buffer = healthy;
        buffer[at] = bad[at % std::size(bad)];
        auto expected = healthy;
        expected[at] = 0.0f;
        // A meter reads the bad sample as silence, in the packed part and the tail alike.
        const auto levels = vec::levels(buffer.data(), kLongest);
        EXPECT_TRUE(vec::scrubNonFinite(buffer.data(), kLongest));
        EXPECT_TRUE(sameBits(buffer, expected));
        double sumSquares = 0.0;
        for (std::size_t i = 0; i < kLongest; ++i)
            sumSquares += double(expected[i]) * double(expected[i]);
        EXPECT_EQ(levels.peak, limits::max());
        EXPECT_DOUBLE_EQ(levels.sumSquares, sumSquares);
        const float quiet[] = {0.5f, -0.25f, bad[at % std::size(bad)], 0.125f, -1.0f, 0.0f, 0.75f, -0.5f, 0.25f};
        const auto small = vec::levels(quiet, std::size(quiet));
        EXPECT_EQ(small.peak, 1.0f);
        EXPECT_DOUBLE_EQ(small.sumSquares, 0.25 + 0.0625 + 0.015625 + 1.0 + 0.5625 + 0.25 + 0.0625);
    }
}

TEST(ChannelRule, MonoStereoRuleAndItsGeneralisation) {
    const std::vector<float> l{1.0f, 2.0f, 3.0f};
    const std::vector<float> r{10.0f, 20.0f, -30.0f};
    EXPECT_EQ(convert({l}, 1), (std::vector<std::vector<float>>{l}));
    EXPECT_EQ(convert({l}, 2), (std::vector<std::vector<float>>{l, l}));
    EXPECT_EQ(convert({l, r}, 2), (std::vector<std::vector<float>>{l, r}));
    EXPECT_EQ(convert({l, r}, 1), (std::vector<std::vector<float>>{{5.5f, 11.0f, -13.5f}}));
    // A side-chain plug-in with four inputs gets the pair on its first two.
    const std::vector<float> silent{0.0f, 0.0f, 0.0f};
    EXPECT_EQ(convert({l, r}, 4), (std::vector<std::vector<float>>{l, r, silent, silent}));
    // A plug-in with four outputs on a stereo strip: the first pair is heard.
    EXPECT_EQ(convert({l, r, silent, l}, 2), (std::vector<std::vector<float>>{l, r}));
}

TEST(ChannelRule, MixdownMayWriteOverOneOfItsSources) {
    std::vector<float> l{1.0f, 2.0f};
    std::vector<float> r{3.0f, 4.0f};
    const float* in[] = {l.data(), r.data()};
    float* out[] = {l.data()};
    convertChannels(in, 2, out, 1, 2);
    EXPECT_EQ(l, (std::vector<float>{2.0f, 3.0f}));
}
