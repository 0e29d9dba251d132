// The round-trip delay read from the phases of the multi-tone that came back.
#include "platform/engine/LatencyMeasurement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

using namespace corvane::engine;

namespace {

// What a path of `gain` and a delay of `delay` frames (any fraction) returns of
// the steady tones, with white noise of `noise` RMS on top.
std::vector<float> cameBack(const LatencyTestSignal& signal, double delay, double gain, double noise) {
    std::mt19937 random(7);
    std::normal_distribution<double> normal(0.0, noise);
    std::vector<float> recorded(signal.recordFrames());
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        double sum = 0;
        for (const auto& tone : signal.tones())
            sum += tone.amplitude * std::cos(2 * std::numbers::pi * tone.cycles * (double(i) - delay) /
                                                 signal.windowFrames() + tone.phase);
        recorded[i] = float(gain * sum + (noise > 0 ? normal(random) : 0.0));
    }
    return recorded;
}

} // namespace

TEST(LatencyMeasurement, ReadsAFractionalDelayItsPolarityAndWhenNothingOrTooLittleCameBack) {
    for (double rate : {44100.0, 96000.0}) {
        const LatencyTestSignal signal(rate);
        SCOPED_TRACE(rate);
        auto normal = readLatency(signal, cameBack(signal, 279.37, 0.5, 0.001));
        EXPECT_EQ(normal.verdict, LatencyVerdict::Measured);
        EXPECT_NEAR(normal.frames, 279.37, 0.05);
        EXPECT_FALSE(normal.inverted);
        EXPECT_NEAR(normal.levelDb, -6.02, 0.1);

        auto inverted = readLatency(signal, cameBack(signal, 4321.8, -1.0, 0.0));
        EXPECT_EQ(inverted.verdict, LatencyVerdict::Measured);
        EXPECT_NEAR(inverted.frames, 4321.8, 0.05);
        EXPECT_TRUE(inverted.inverted);

        EXPECT_EQ(readLatency(signal, cameBack(signal, 100, 0.0, 0.1)).verdict, LatencyVerdict::NoSignal);
        EXPECT_EQ(readLatency(signal, cameBack(signal, 100, 0.035, 0.01)).verdict, LatencyVerdict::LevelTooLow);
        EXPECT_EQ(readLatency(signal, cameBack(signal, 100, 1e-4, 0.0)).verdict, LatencyVerdict::LevelTooLow);
    }
}

TEST(LatencyMeasurement, RunsAgreeOnTheMedianOrSayTheyDoNot) {
    auto run = [](double frames) { return LatencyReading{LatencyVerdict::Measured, frames, false, 0}; };
    auto agreeing = combineLatencyRuns({run(300.1), run(300.3), run(300.2)});
    EXPECT_EQ(agreeing.combined.verdict, LatencyVerdict::Measured);
    EXPECT_DOUBLE_EQ(agreeing.combined.frames, 300.2);
    EXPECT_NEAR(agreeing.spreadFrames, 0.2, 1e-9);
    EXPECT_EQ(combineLatencyRuns({run(300), run(556)}).combined.verdict, LatencyVerdict::RunsDisagree);
    EXPECT_EQ(combineLatencyRuns({run(300), LatencyReading{}}).combined.verdict, LatencyVerdict::NoSignal);
}
