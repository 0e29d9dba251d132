#include "platform/engine/ChannelRule.h"

#include <gtest/gtest.h>

#include <vector>

using corvane::engine::convertChannels;

namespace {

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
