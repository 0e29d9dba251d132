// The round trip measured on the virtual loopback device, whose delay beyond
// the latency estimate is known, at several rates and buffer sizes on a
// manual clock; the program's own no-cable case is among its exit statuses.
#include "engine/RoundTripMeasurement.h"
#include "platform/hardware/virtual/VirtualBackend.h"

#include <QJsonArray>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace corvane;

TEST(RoundTripMeasurement, MeasuresTheLoopbackDelayBeyondTheEstimateAtEveryRateAndBufferAndSaysWhatItMeans) {
    qputenv("CORVANE_VIRTUAL_LOOPBACK_FRAMES", "23.37");
    std::vector<std::unique_ptr<hw::Backend>> backends;
    backends.push_back(std::make_unique<hw::VirtualBackend>());
    qunsetenv("CORVANE_VIRTUAL_LOOPBACK_FRAMES");
    hw::AudioHardware hardware(std::move(backends));
    auto* virt = hardware.backend<hw::VirtualBackend>();
    const std::string uid = hw::VirtualBackend::kLoopbackUid;
    ASSERT_TRUE(virt->setClockMode(uid, hw::VirtualBackend::ClockMode::Manual));
    auto pass = [&] { virt->runPeriods(uid, 8); };

    const struct {
        std::uint32_t rate;
        std::uint32_t buffer;
        std::uint32_t reported; // latency the device reports each way beyond its buffer
    } cases[] = {{44100, 32, 0}, {44100, 1024, 0}, {48000, 64, 40}, {48000, 256, 0}, {96000, 128, 0}, {96000, 512, 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.buffer << " frames, " << c.reported << " reported");
        for (auto scope : {hw::Scope::Input, hw::Scope::Output})
            virt->setLatency(uid, scope, c.reported / 2, c.reported / 4, c.reported / 4);
        const RoundTripRequest options{QString::fromStdString(uid), 3, 3, c.rate, c.buffer};
        const auto result = measureRoundTrip(hardware, options, pass);
        ASSERT_EQ(result.exitCode, 0) << result.errorLine.toStdString();
        const auto& report = result.report;
        EXPECT_EQ(report["estimateFrames"].toInt(), 2 * (c.buffer + c.reported));
        EXPECT_NEAR(report["measuredFrames"].toDouble() - report["estimateFrames"].toDouble(), 23.37, 0.05);
        EXPECT_NEAR(report["measuredMs"].toDouble(), report["measuredFrames"].toDouble() / c.rate * 1000, 0.001);
        EXPECT_NEAR(report["estimateMs"].toDouble(), 2.0 * (c.buffer + c.reported) / c.rate * 1000, 0.001);
        EXPECT_EQ(report["polarity"].toString(), "normal");
        EXPECT_EQ(report["runs"].toArray().size(), 3);
        EXPECT_TRUE(report["summary"].toString().endsWith("the device adds 23 frames it does not report"));
    }
    EXPECT_EQ(measuredLatencySummary(279.4, 256, 48000, true, true).toStdString(),
              "Measured 5.82 ms round trip (279 frames) · estimate 5.33 ms: the device adds 23 frames it does not report "
              "(start jackd with -I and -O 12 and 11 frames higher for its own figures to match) · the polarity is "
              "inverted on the way");
    // Another channel than the one played stays silent.
    const auto crossed = measureRoundTrip(hardware, RoundTripRequest{QString::fromStdString(uid), 1, 2, {}, {}}, pass);
    EXPECT_EQ(crossed.exitCode, 1);
    EXPECT_EQ(crossed.errorLine, "No signal came back on input 2 - connect output 1 to input 2");
}
