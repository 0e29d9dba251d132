// The small calculators of the engine model: throttle, latency figures and the
// latency line, and the matrix mixer wrapper's errors.
#include "engine/LatencyEstimate.h"
#include "engine/LatencyLine.h"
#include "engine/MatrixMixerNode.h"
#include "engine/RecoveryThrottle.h"

#include <gtest/gtest.h>

using namespace corvane;
using namespace std::chrono_literals;

TEST(RecoveryThrottle, AllowsThreeAttemptsPerMinuteCountingOneExactlyAMinuteOld) {
    RecoveryThrottle throttle;
    const Clock::TimePoint t0{};
    EXPECT_TRUE(throttle.recordAttempt(t0));
    EXPECT_TRUE(throttle.recordAttempt(t0 + 30s));
    EXPECT_TRUE(throttle.recordAttempt(t0 + 59s));
    EXPECT_FALSE(throttle.recordAttempt(t0 + 60s)); // the first is exactly a window old: still counts
    EXPECT_EQ(throttle.attempts.size(), 3);
    EXPECT_TRUE(throttle.recordAttempt(t0 + 61s)); // now it has aged out
    EXPECT_EQ(throttle.attempts, (QList<Clock::TimePoint>{t0 + 30s, t0 + 59s, t0 + 61s}));
}

TEST(LatencyEstimate, CountsPluginsAndFormatsTheSummary) {
    const LatencyEstimate e{44100.0, 128, 0, 0, 0.0105};
    EXPECT_NEAR(e.roundTripMilliseconds(), 128.0 / 44100 * 2000 + 10.5, 1e-9);
    EXPECT_TRUE(e.summary().contains("Plugins up to 10.5 ms (the longest strip)"));
    EXPECT_TRUE(e.summary().startsWith("Input ≈ 2.9 ms (128-sample buffer + 0 frames"));
}

TEST(LatencyLine, TheEstimateWinsThenAnUnsupportedRequestThenTheRequestedBuffer) {
    const LatencyEstimate e{48000.0, 512, 32, 48, 0.0};
    const BufferRange range{64, 1024};
    // Once estimated, the round trip shows even for a request out of range; in
    // the warning colour when the device runs another size than requested.
    const LatencyLine running = latencyLine(512u, e, 16, range, 1.0);
    EXPECT_EQ(running.text, QString("≈ 23.0 ms round trip (device: 512 samples)"));
    EXPECT_EQ(running.toolTip, e.summary());
    EXPECT_TRUE(running.warning);
    EXPECT_FALSE(latencyLine(512u, e, 512, range, 1.0).warning);
    // An estimate without an actual size (or the reverse) is not enough.
    EXPECT_EQ(latencyLine(std::nullopt, e, 16, range, 1.0).text, QString("Device only supports 64–1024 samples"));
    EXPECT_TRUE(latencyLine(512u, std::nullopt, 2048, range, 1.0).warning);
    // The range's ends are supported sizes.
    for (std::uint32_t frames : {64u, 1024u}) {
        const LatencyLine requested = latencyLine(std::nullopt, std::nullopt, frames, range, 1.36);
        EXPECT_EQ(requested.text, QString("≈ 1.4 ms buffer, one way (requested)"));
        EXPECT_FALSE(requested.warning);
        EXPECT_TRUE(requested.toolTip.startsWith("The real input-to-output latency"));
    }
    EXPECT_FALSE(latencyLine(std::nullopt, std::nullopt, 16, std::nullopt, 0.3).warning);
}

TEST(MatrixMixerNode, ConfiguresBusesAndReportsBadChannelCounts) {
    MatrixMixerNode node;
    EXPECT_EQ(node.configure({2, 1}, {4}, 48000.0), std::nullopt);
    EXPECT_EQ(node.unit()->inputBusCount(), 2);
    EXPECT_EQ(node.unit()->inputFormat(1), (engine::Format{1, 48000.0}));
    EXPECT_EQ(node.unit()->outputFormat(0), (engine::Format{4, 48000.0}));

    MatrixMixerNode zero;
    EXPECT_EQ(zero.configure({2, 0}, {4}, 48000.0), QString("Failed to create input format (0 ch, 48000.0 Hz)."));
    EXPECT_FALSE(zero.unit()->inputFormat(1)) << "no format is set on the failing bus";
    EXPECT_EQ(zero.configure({1}, {0}, 44100.5), QString("Failed to create output format (0 ch, 44100.5 Hz)."));

    EXPECT_EQ(MatrixMixerNode::makeFormat(0, 48000), std::nullopt);
    EXPECT_EQ(MatrixMixerNode::makeFormat(-1, 48000), std::nullopt);
}
