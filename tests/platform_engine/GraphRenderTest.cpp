// Offline renders through the graph engine on a hand-driven device, checked
// sample by sample, at two rates and two period sizes, all under the real-time
// checker.
#include "platform/engine/EffectUnit.h"
#include "tests/platform_engine/EngineRig.h"
#include "tests/platform_engine/TestEffect.h"
#include "tests/support/RealtimeChecker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

using namespace corvane;
using namespace corvane::test;
using engine::ConnectionPoint;
using engine::EffectUnit;
using engine::ParameterScope;

namespace {

class GraphRender : public ::testing::TestWithParam<std::tuple<double, std::uint32_t>> {
protected:
    GraphRender() : rig(std::get<0>(GetParam()), std::get<1>(GetParam())), frames(std::get<1>(GetParam())) {}

    void TearDown() override {
        rig.engine->stop();
        EXPECT_EQ(checker.violations(), 0u) << "heap use on the render thread: " << checker.report();
        EXPECT_GT(rig.engine->renderer().periodsRendered(), 0u);
    }

    // Device input -> splitters (fan-out) -> combiner -> device output, as the
    // application builds it.
    void build(const std::vector<std::shared_ptr<engine::MatrixMixerUnit>>& splitters,
               const std::shared_ptr<engine::MatrixMixerUnit>& combiner, const std::vector<int>& busWidths) {
        auto& e = *rig.engine;
        std::vector<ConnectionPoint> points;
        for (auto& s : splitters) {
            e.attach(s);
            points.push_back({s.get(), 0});
        }
        e.attach(combiner);
        ASSERT_TRUE(e.connect(e.inputNode(), 0, points, rig.format(8))) << e.lastError();
        for (std::size_t i = 0; i < splitters.size(); ++i)
            ASSERT_TRUE(e.connect(*splitters[i], 0, *combiner, static_cast<int>(i), rig.format(busWidths[i])))
                << e.lastError();
        ASSERT_TRUE(e.connect(*combiner, 0, e.outputNode(), 0, rig.format(8))) << e.lastError();
        start();
    }

    void start() {
        std::string error;
        ASSERT_TRUE(rig.engine->prepare(error)) << error;
        ASSERT_TRUE(rig.engine->start(error)) << error;
    }

    static void expectSilent(const Channels& outputs, const std::set<int>& except) {
        for (int c = 0; c < static_cast<int>(outputs.size()); ++c) {
            if (except.contains(c))
                continue;
            for (float s : outputs[static_cast<std::size_t>(c)])
                ASSERT_EQ(s, 0.0f) << "output " << c;
        }
    }

    RealtimeChecker checker;
    EngineRig rig;
    std::uint32_t frames;
};

} // namespace

TEST_P(GraphRender, SplittersAndACombinerPassSignalsSampleExactInTheSamePeriod) {
    auto mono = makeSplitter(8, {2}, rig.sampleRate);
    auto stereo = makeSplitter(8, {0, 1}, rig.sampleRate);
    auto combiner = makeCombiner({1, 2}, 8, {{0, 5}, {1, 0}, {2, 1}}, rig.sampleRate);
    build({mono, stereo}, combiner, {1, 2});
    // Full periods, then a short one: a device may deliver fewer frames.
    for (int p = 0; p < 4; ++p) {
        const std::uint32_t n = p == 3 ? frames / 2 : frames;
        const Channels in = rig.inputs(n, p);
        const Channels out = rig.period(in, n);
        EXPECT_EQ(out[5], in[2]) << "period " << p;
        EXPECT_EQ(out[0], in[0]) << "period " << p;
        EXPECT_EQ(out[1], in[1]) << "period " << p;
        expectSilent(out, {0, 1, 5});
    }
}

TEST_P(GraphRender, StripsSharingAnOutputAreSummed) {
    auto a = makeSplitter(8, {3}, rig.sampleRate);
    auto b = makeSplitter(8, {6, 7}, rig.sampleRate);
    // Strip a to output 2; strip b's left to output 2 as well, its right to 3.
    auto combiner = makeCombiner({1, 2}, 8, {{0, 2}, {1, 2}, {2, 3}}, rig.sampleRate);
    build({a, b}, combiner, {1, 2});
    const Channels in = rig.inputs(frames, 0);
    const Channels out = rig.period(in, frames);
    for (std::uint32_t f = 0; f < frames; ++f) {
        ASSERT_EQ(out[2][f], in[3][f] + in[6][f]) << "frame " << f;
        ASSERT_EQ(out[3][f], in[7][f]) << "frame " << f;
    }
    expectSilent(out, {2, 3});
}

TEST_P(GraphRender, MonoIntoStereoFeedsBothChannelsAndStereoIntoMonoMixesAtHalfGain) {
    auto mono = makeSplitter(8, {4}, rig.sampleRate);
    auto stereo = makeSplitter(8, {0, 1}, rig.sampleRate);
    // The combiner takes the mono strip on a stereo bus and the stereo strip on a mono bus.
    auto combiner = makeCombiner({2, 1}, 8, {{0, 0}, {1, 1}, {2, 3}}, rig.sampleRate);
    build({mono, stereo}, combiner, {2, 1});
    const Channels in = rig.inputs(frames, 1);
    const Channels out = rig.period(in, frames);
    EXPECT_EQ(out[0], in[4]);
    EXPECT_EQ(out[1], in[4]);
    for (std::uint32_t f = 0; f < frames; ++f)
        ASSERT_EQ(out[3][f], 0.5f * in[0][f] + 0.5f * in[1][f]) << "frame " << f;
    expectSilent(out, {0, 1, 3});
}

TEST_P(GraphRender, WhatNothingFeedsIsSilent) {
    // A combiner whose second bus has no connection and whose gains for it are
    // set: the bus reads silence. Outputs no crosspoint reaches stay silent, and
    // a device with no output connection at all plays silence.
    auto a = makeSplitter(8, {1}, rig.sampleRate);
    auto combiner = makeCombiner({1, 1}, 8, {{0, 4}, {1, 6}}, rig.sampleRate);
    auto& e = *rig.engine;
    e.attach(a);
    e.attach(combiner);
    ASSERT_TRUE(e.connect(e.inputNode(), 0, *a, 0, rig.format(8)));
    ASSERT_TRUE(e.connect(*a, 0, *combiner, 0, rig.format(1)));
    ASSERT_TRUE(e.connect(*combiner, 0, e.outputNode(), 0, rig.format(8)));
    start();
    const Channels in = rig.inputs(frames, 2);
    const Channels out = rig.period(in, frames);
    EXPECT_EQ(out[4], in[1]);
    expectSilent(out, {4});

    e.stop();
    e.disconnectInput(e.outputNode(), 0);
    start();
    expectSilent(rig.period(in, frames), {});
}

TEST_P(GraphRender, AFreshMixerIsSilentUntilItsGainsAreWritten) {
    auto splitter = std::make_shared<engine::MatrixMixerUnit>();
    auto& e = *rig.engine;
    e.attach(splitter);
    ASSERT_TRUE(e.connect(e.inputNode(), 0, *splitter, 0, rig.format(8)));
    ASSERT_TRUE(e.connect(*splitter, 0, e.outputNode(), 0, rig.format(8)));
    start();
    const Channels in = rig.inputs(frames, 0);
    expectSilent(rig.period(in, frames), {});
    // The crosspoint alone is not enough: volumes and master start at 0 too.
    splitter->setParameter(ParameterScope::Global, engine::crosspointElement(5, 5), 1.0f);
    splitter->setParameter(ParameterScope::Input, 5, 1.0f);
    splitter->setParameter(ParameterScope::Output, 5, 1.0f);
    expectSilent(rig.period(in, frames), {});
    splitter->setParameter(ParameterScope::Global, engine::kMasterVolumeElement, 1.0f);
    const Channels out = rig.period(in, frames);
    EXPECT_EQ(out[5], in[5]);
    expectSilent(out, {5});
}

TEST_P(GraphRender, AGainWrittenWhileRunningActsFromTheNextPeriod) {
    auto a = makeSplitter(8, {2}, rig.sampleRate);
    auto combiner = makeCombiner({1}, 8, {{0, 5}}, rig.sampleRate);
    build({a}, combiner, {1});
    Channels in = rig.inputs(frames, 0);
    EXPECT_EQ(rig.period(in, frames)[5], in[2]);

    combiner->setParameter(ParameterScope::Output, 5, 0.25f);
    in = rig.inputs(frames, 1);
    Channels out = rig.period(in, frames);
    for (std::uint32_t f = 0; f < frames; ++f)
        ASSERT_EQ(out[5][f], 0.25f * in[2][f]);

    // Rerouting: the strip moves from output 5 to output 7 between two periods.
    combiner->setParameter(ParameterScope::Global, engine::crosspointElement(0, 5), 0.0f);
    combiner->setParameter(ParameterScope::Global, engine::crosspointElement(0, 7), 1.0f);
    in = rig.inputs(frames, 2);
    out = rig.period(in, frames);
    EXPECT_EQ(out[7], in[2]);
    expectSilent(out, {7});
}

TEST_P(GraphRender, AnEffectInTheChainIsPreparedForItsWidthsAndRunsInPlace) {
    TestEffectLog log;
    auto effect = std::make_shared<EffectUnit>(std::make_unique<TestEffect>(log));
    auto a = makeSplitter(8, {1}, rig.sampleRate);
    auto combiner = makeCombiner({2}, 8, {{0, 6}, {1, 7}}, rig.sampleRate);
    auto& e = *rig.engine;
    e.attach(a);
    e.attach(effect);
    e.attach(combiner);
    ASSERT_TRUE(e.connect(e.inputNode(), 0, std::vector<ConnectionPoint>{{a.get(), 0}}, rig.format(8)));
    ASSERT_TRUE(e.connect(*a, 0, *effect, 0, rig.format(1)));
    ASSERT_TRUE(e.connect(*effect, 0, *combiner, 0, rig.format(2)));
    ASSERT_TRUE(e.connect(*combiner, 0, e.outputNode(), 0, rig.format(8)));
    start();
    EXPECT_EQ(log.prepares, 1);
    EXPECT_EQ(log.sampleRate, rig.sampleRate);
    EXPECT_EQ(log.maxFrames, frames);
    EXPECT_EQ(log.inputChannels, 1);
    EXPECT_EQ(log.outputChannels, 2);
    EXPECT_EQ(effect->latencySeconds(), 0.005);

    for (int p = 0; p < 3; ++p) {
        const Channels in = rig.inputs(frames, p);
        const Channels out = rig.period(in, frames);
        for (std::uint32_t f = 0; f < frames; ++f) {
            ASSERT_EQ(out[6][f], 2.0f * in[1][f]) << "period " << p << " frame " << f;
            ASSERT_EQ(out[7][f], -in[1][f]) << "period " << p << " frame " << f;
        }
        expectSilent(out, {6, 7});
    }
    EXPECT_EQ(log.calls, 3);
    EXPECT_TRUE(log.allCallsRealtime);
    EXPECT_TRUE(log.denormalsFlushed);
}

INSTANTIATE_TEST_SUITE_P(RatesAndPeriods, GraphRender,
                         ::testing::Combine(::testing::Values(44100.0, 96000.0), ::testing::Values(32u, 512u)),
                         [](const auto& param) {
                             return std::to_string(static_cast<int>(std::get<0>(param.param))) + "Hz_" +
                                    std::to_string(std::get<1>(param.param)) + "frames";
                         });
