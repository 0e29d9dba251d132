// Offline renders through the graph engine on a hand-driven device, checked
// sample by sample, at two rates and two period sizes, all under the real-time
// checker.
#include "platform/engine/EffectUnit.h"
#include "tests/platform_engine/EngineRig.h"
#include "tests/platform_engine/TestEffect.h"
#include "tests/support/RealtimeChecker.h"

#include <gtest/gtest.h>

#include <set>

using namespace corvane;
using namespace corvane::test;
using engine::ParameterScope;

namespace {

using Mixer = std::shared_ptr<engine::MatrixMixerUnit>;

class GraphRender : public ::testing::TestWithParam<std::tuple<double, std::uint32_t>> {
  protected:
    GraphRender() : rig(std::get<0>(GetParam()), std::get<1>(GetParam())), frames(std::get<1>(GetParam())) {}

    void TearDown() override {
        rig.engine->stop();
        EXPECT_EQ(checker.violations(), 0u) << "heap use on the render thread: " << checker.report();
        EXPECT_GT(rig.engine->renderer().periodsRendered(), 0u);
    }

    // Device input fanned out to `splitters`, splitter i into input bus i of
    // `combiner`, the combiner to the device output; as the application builds it.
    void build(const std::vector<Mixer>& splitters, const Mixer& combiner) {
        auto& e = *rig.engine;
        std::vector<engine::ConnectionPoint> points;
        for (const auto& s : splitters) {
            e.attach(s);
            points.push_back({s.get(), 0});
        }
        e.attach(combiner);
        ASSERT_TRUE(e.connect(e.inputNode(), 0, points, rig.format(8))) << e.lastError();
        for (std::size_t i = 0; i < splitters.size(); ++i)
            ASSERT_TRUE(e.connect(*splitters[i], 0, *combiner, static_cast<int>(i), rig.format(1)))
                << e.lastError();
        ASSERT_TRUE(e.connect(*combiner, 0, e.outputNode(), 0, rig.format(8))) << e.lastError();
        start();
    }

    // An explicit prepare first: start() must not prepare the units again.
    void start() {
        std::string error;
        ASSERT_TRUE(rig.engine->prepare(error)) << error;
        rig.start();
    }

    static void expectSilent(const Channels& out, const std::set<std::size_t>& except) {
        for (std::size_t c = 0; c < out.size(); ++c) {
            if (!except.contains(c)) {
                ASSERT_EQ(out[c], std::vector<float>(out[c].size(), 0.0f)) << "output " << c;
            }
        }
    }

    RealtimeChecker checker;
    EngineRig rig;
    std::uint32_t frames;
};

} // namespace

TEST_P(GraphRender, StripsPassSampleExactInTheSamePeriodByTheChannelRuleAndSumOnASharedOutput) {
    const double rate = rig.sampleRate;
    // Bus widths 1, 2, 2, 1, 1: mono and stereo strips on their own widths,
    // mono into a stereo bus (both sides), stereo into a mono bus (half gain
    // each), and a mono strip sharing output 3 with the latter.
    auto combiner =
        makeCombiner({1, 2, 2, 1, 1}, 8, {{0, 5}, {1, 0}, {2, 1}, {3, 6}, {4, 7}, {5, 3}, {6, 3}}, rate);
    build({makeSplitter({2}, rate), makeSplitter({0, 1}, rate), makeSplitter({4}, rate),
           makeSplitter({6, 7}, rate), makeSplitter({3}, rate)},
          combiner);
    // Full periods, then a short one: a device may deliver fewer frames.
    for (int p = 0; p < 4; ++p) {
        const std::uint32_t n = p == 3 ? frames / 2 : frames;
        const Channels in = rig.inputs(n, p);
        const Channels out = rig.period(in, n);
        EXPECT_EQ(out[5], in[2]) << "period " << p;
        EXPECT_EQ(out[0], in[0]) << "period " << p;
        EXPECT_EQ(out[1], in[1]) << "period " << p;
        EXPECT_EQ(out[6], in[4]) << "period " << p;
        EXPECT_EQ(out[7], in[4]) << "period " << p;
        for (std::uint32_t f = 0; f < n; ++f)
            ASSERT_EQ(out[3][f], (0.5f * in[6][f] + 0.5f * in[7][f]) + in[3][f])
                << "period " << p << " frame " << f;
        expectSilent(out, {0, 1, 3, 5, 6, 7});
    }
}

TEST_P(GraphRender, WhatNothingFeedsIsSilent) {
    // The combiner's second bus has gains but no connection: it reads silence.
    build({makeSplitter({1}, rig.sampleRate)}, makeCombiner({1, 1}, 8, {{0, 4}, {1, 6}}, rig.sampleRate));
    const Channels in = rig.inputs(frames, 2);
    const Channels out = rig.period(in, frames);
    EXPECT_EQ(out[4], in[1]);
    expectSilent(out, {4});
    // A device output with no connection at all plays silence.
    rig.engine->stop();
    rig.engine->disconnectInput(rig.engine->outputNode(), 0);
    start();
    expectSilent(rig.period(in, frames), {});
}

TEST_P(GraphRender, AnEffectInTheChainIsPreparedOnceForItsWidthsAndRunsRealtimeWithDenormalsFlushed) {
    TestEffectLog log;
    auto effect = std::make_shared<engine::EffectUnit>(std::make_unique<TestEffect>(log));
    auto splitter = makeSplitter({1}, rig.sampleRate);
    auto combiner = makeCombiner({2}, 8, {{0, 6}, {1, 7}}, rig.sampleRate);
    auto& e = *rig.engine;
    e.attach(splitter);
    e.attach(effect);
    e.attach(combiner);
    ASSERT_TRUE(e.connect(e.inputNode(), 0, *splitter, 0, rig.format(8)));
    ASSERT_TRUE(e.connect(*splitter, 0, *effect, 0, rig.format(1)));
    ASSERT_TRUE(e.connect(*effect, 0, *combiner, 0, rig.format(2)));
    ASSERT_TRUE(e.connect(*combiner, 0, e.outputNode(), 0, rig.format(8)));
    start();
    EXPECT_EQ(log.prepares, 1);
    EXPECT_EQ(log.sampleRate, rig.sampleRate);
    EXPECT_EQ(log.maxFrames, e.periodLimit()) << "prepared for the longest period the device may switch to";
    EXPECT_EQ(log.inputChannels, 1);
    EXPECT_EQ(log.outputChannels, 2);

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

TEST_P(GraphRender, AnEffectRenderingAheadIsBegunInItsPlaceAndFinishedJustBeforeItsReader) {
    std::atomic<int> clock{0};
    TestEffectLog aheadLog, localLog;
    aheadLog.ahead = true;
    aheadLog.clock = localLog.clock = &clock;
    auto ahead = std::make_shared<engine::EffectUnit>(std::make_unique<TestEffect>(aheadLog));
    auto local = std::make_shared<engine::EffectUnit>(std::make_unique<TestEffect>(localLog));
    const double rate = rig.sampleRate;
    std::vector<Mixer> splitters{makeSplitter({1}, rate), makeSplitter({2}, rate)};
    auto combiner = makeCombiner({1, 1}, 8, {{0, 4}, {1, 5}}, rate);
    auto& e = *rig.engine;
    e.attach(splitters[0]);
    e.attach(ahead);
    e.attach(splitters[1]);
    e.attach(local);
    e.attach(combiner);
    ASSERT_TRUE(e.connect(e.inputNode(), 0, {{splitters[0].get(), 0}, {splitters[1].get(), 0}}, rig.format(8)));
    const std::shared_ptr<engine::EffectUnit> effects[] = {ahead, local};
    for (int s = 0; s < 2; ++s) {
        ASSERT_TRUE(e.connect(*splitters[std::size_t(s)], 0, *effects[s], 0, rig.format(1)));
        ASSERT_TRUE(e.connect(*effects[s], 0, *combiner, s, rig.format(1)));
    }
    ASSERT_TRUE(e.connect(*combiner, 0, e.outputNode(), 0, rig.format(8)));
    start();
    timespec before{};
    clock_gettime(CLOCK_MONOTONIC, &before);
    const Channels in = rig.inputs(frames, 1);
    const Channels out = rig.period(in, frames);
    for (std::uint32_t f = 0; f < frames; ++f) {
        ASSERT_EQ(out[4][f], 2.0f * in[1][f]) << f;
        ASSERT_EQ(out[5][f], 2.0f * in[2][f]) << f;
    }
    // The local strip renders while the other one's work is out.
    EXPECT_LT(aheadLog.begun, localLog.processed);
    EXPECT_LT(localLog.processed, aheadLog.finished);
    const auto nanos = [](const timespec& t) { return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec; };
    EXPECT_GT(nanos(aheadLog.deadline), nanos(before));
    EXPECT_LT(nanos(aheadLog.deadline) - nanos(before), std::int64_t(1e9 * frames / rate) + 1'000'000'000);
}

INSTANTIATE_TEST_SUITE_P(RatesAndPeriods, GraphRender,
                         ::testing::Combine(::testing::Values(44100.0, 96000.0),
                                            ::testing::Values(32u, 512u)),
                         [](const auto& param) {
                             return std::to_string(static_cast<int>(std::get<0>(param.param))) + "Hz_" +
                                    std::to_string(std::get<1>(param.param)) + "frames";
                         });
