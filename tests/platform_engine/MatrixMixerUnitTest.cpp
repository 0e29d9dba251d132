// The matrix mixer on its own: parameter addressing, gain arithmetic and its
// bus and format rules, rendered directly without an engine.
#include "platform/engine/MatrixMixerUnit.h"
#include "platform/engine/EffectUnit.h"
#include "tests/platform_engine/EngineRig.h"
#include "tests/platform_engine/TestEffect.h"

#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::test;
using engine::crosspointElement;
using engine::MatrixMixerUnit;
using engine::ParameterScope;

namespace {

constexpr std::uint32_t kFrames = 16;

// Renders `mixer` (one output bus) once with input channel c, counted across
// buses, holding sampleAt(c, ...). Outputs start at 99 so unwritten ones show.
Channels render(MatrixMixerUnit& mixer) {
    Channels in(static_cast<std::size_t>(mixer.inputChannelCount()), std::vector<float>(kFrames));
    Channels out(static_cast<std::size_t>(mixer.outputChannelCount()), std::vector<float>(kFrames, 99.0f));
    std::vector<const float*> inPointers;
    for (std::size_t c = 0; c < in.size(); ++c) {
        for (std::uint32_t f = 0; f < kFrames; ++f)
            in[c][f] = sampleAt(static_cast<int>(c), f, 0);
        inPointers.push_back(in[c].data());
    }
    std::vector<float*> outPointers;
    for (auto& c : out)
        outPointers.push_back(c.data());
    std::vector<engine::InputBus> inputs;
    for (int b = 0, next = 0; b < mixer.inputBusCount(); next += mixer.inputFormat(b++)->channels)
        inputs.push_back({inPointers.data() + next, mixer.inputFormat(b)->channels});
    const engine::OutputBus output{outPointers.data(), mixer.outputChannelCount()};
    mixer.render(inputs.data(), &output, kFrames);
    return out;
}

// Two input buses of two channels (input channels 0-3), one output bus of two.
std::unique_ptr<MatrixMixerUnit> twoByTwo() {
    auto mixer = std::make_unique<MatrixMixerUnit>(2, 1);
    std::string error;
    EXPECT_TRUE(mixer->setInputFormat(0, {2, 48000.0}, error));
    EXPECT_TRUE(mixer->setInputFormat(1, {2, 48000.0}, error));
    EXPECT_TRUE(mixer->setOutputFormat(0, {2, 48000.0}, error));
    return mixer;
}

} // namespace

TEST(MatrixMixerUnit, GainIsCrosspointTimesBothVolumesTimesMasterWithChannelsCountedAcrossBuses) {
    auto mixer = twoByTwo();
    setUnity(*mixer);
    mixer->setParameter(ParameterScope::Global, crosspointElement(0, 0), 0.5f);
    mixer->setParameter(ParameterScope::Global, crosspointElement(2, 0), 1.0f);
    // Input channel 3 is the second channel of the second bus.
    mixer->setParameter(ParameterScope::Global, crosspointElement(3, 1), 1.0f);
    mixer->setParameter(ParameterScope::Input, 2, 0.5f);
    mixer->setParameter(ParameterScope::Output, 0, 0.5f);
    mixer->setParameter(ParameterScope::Global, engine::kMasterVolumeElement, 0.5f);
    EXPECT_EQ(mixer->parameter(ParameterScope::Input, 2), 0.5f);
    EXPECT_EQ(mixer->parameter(ParameterScope::Output, 0), 0.5f);
    EXPECT_EQ(mixer->parameter(ParameterScope::Global, engine::kMasterVolumeElement), 0.5f);
    const Channels out = render(*mixer);
    for (std::uint32_t f = 0; f < kFrames; ++f) {
        const double expected = 0.5 * 0.5 * 0.5 * sampleAt(0, f, 0) + 0.5 * 0.5 * 0.5 * sampleAt(2, f, 0);
        ASSERT_NEAR(out[0][f], expected, 1e-6);
        ASSERT_EQ(out[1][f], 0.5f * sampleAt(3, f, 0));
    }
    // A silent output is written too.
    mixer->setParameter(ParameterScope::Global, crosspointElement(3, 1), 0.0f);
    EXPECT_EQ(render(*mixer)[1], std::vector<float>(kFrames, 0.0f));
}

TEST(MatrixMixerUnit, FreshItIsSilentUntilAllFourGainsAreWrittenAndElementsBeyondItsChannelsAreIgnored) {
    auto mixer = twoByTwo();
    const Channels silence(2, std::vector<float>(kFrames, 0.0f));
    EXPECT_EQ(render(*mixer), silence);
    mixer->setParameter(ParameterScope::Global, crosspointElement(1, 1), 1.0f);
    mixer->setParameter(ParameterScope::Input, 1, 1.0f);
    mixer->setParameter(ParameterScope::Output, 1, 1.0f);
    EXPECT_EQ(render(*mixer), silence);
    mixer->setParameter(ParameterScope::Global, engine::kMasterVolumeElement, 1.0f);
    EXPECT_EQ(render(*mixer)[1][0], sampleAt(1, 0, 0));
    // Elements beyond the channels.
    mixer->setParameter(ParameterScope::Input, 4, 1.0f);
    mixer->setParameter(ParameterScope::Output, 2, 1.0f);
    mixer->setParameter(ParameterScope::Global, crosspointElement(4, 0), 1.0f);
    mixer->setParameter(ParameterScope::Global, crosspointElement(0, 2), 1.0f);
    EXPECT_EQ(mixer->parameter(ParameterScope::Input, 4), 0.0f);
    EXPECT_EQ(mixer->parameter(ParameterScope::Global, crosspointElement(0, 2)), 0.0f);
    EXPECT_EQ(render(*mixer)[0], silence[0]);
}

TEST(MatrixMixerUnit, BusCountsAndFormatsFollowTheirRulesForMixersAndEffects) {
    MatrixMixerUnit mixer;
    std::string error;
    EXPECT_TRUE(mixer.setInputBusCount(5, error));
    EXPECT_EQ(mixer.inputBusCount(), 5);
    EXPECT_FALSE(mixer.inputFormat(4).has_value());
    EXPECT_FALSE(mixer.setOutputBusCount(0, error));
    EXPECT_EQ(error, "The matrix mixer needs at least 1 output bus.");
    EXPECT_FALSE(mixer.setInputFormat(0, {0, 48000.0}, error));
    EXPECT_EQ(error, "Invalid input format (0 ch, 48000 Hz).");
    EXPECT_FALSE(mixer.setInputFormat(5, {2, 48000.0}, error));
    EXPECT_EQ(error, "Input bus 5 does not exist (the matrix mixer has 5).");

    TestEffectLog log;
    engine::EffectUnit effect(std::make_unique<TestEffect>(log));
    EXPECT_FALSE(effect.setInputBusCount(2, error));
    EXPECT_EQ(error, "The effect has a fixed number of input buses (1).");
    EXPECT_FALSE(effect.setOutputFormat(0, {3, 48000.0}, error));
    EXPECT_EQ(error, "An effect takes 1 or 2 output channels, not 3.");
    EXPECT_FALSE(effect.prepareToRender(48000.0, 64, error));
    EXPECT_EQ(error, "The effect's input is not connected.");
    EXPECT_EQ(log.prepares, 0);
}

TEST(MatrixMixerUnit, EachPeriodHearsTheCrosspointsAsTheyAreNowAcrossChangesAndBusChanges) {
    auto mixer = twoByTwo();
    setUnity(*mixer);
    const auto at = [](int channel, std::uint32_t f) { return sampleAt(channel, f, 0); };
    const auto set = [&](std::uint32_t input, std::uint32_t output, float gain) {
        mixer->setParameter(ParameterScope::Global, crosspointElement(input, output), gain);
    };
    set(0, 1, 0.5f);
    EXPECT_EQ(render(*mixer)[1][3], 0.5f * at(0, 3));
    set(0, 1, 0.25f);
    EXPECT_EQ(render(*mixer)[1][3], 0.25f * at(0, 3));
    set(0, 1, 0.0f);
    EXPECT_EQ(render(*mixer)[1], std::vector<float>(kFrames, 0.0f));
    // Raised again, now beside another input on the same output.
    set(2, 1, 1.0f);
    set(0, 1, 1.0f);
    Channels out = render(*mixer);
    for (std::uint32_t f = 0; f < kFrames; ++f)
        ASSERT_EQ(out[1][f], at(0, f) + at(2, f));

    // New channel counts move every gain: the routes must follow them.
    std::string error;
    ASSERT_TRUE(mixer->setOutputFormat(0, {4, 48000.0}, error));
    out = render(*mixer);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(out[1][5], at(0, 5) + at(2, 5));
    EXPECT_EQ(out[0], std::vector<float>(kFrames, 0.0f));
    ASSERT_TRUE(mixer->setInputBusCount(1, error));
    out = render(*mixer);
    for (std::uint32_t f = 0; f < kFrames; ++f)
        ASSERT_EQ(out[1][f], at(0, f));
}
