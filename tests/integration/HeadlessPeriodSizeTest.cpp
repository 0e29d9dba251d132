// A headless run on a JACK server whose period size is the server's to keep:
// the run takes it as it is, follows a change someone else makes, and reports
// latency the way the server counts it.
#include "tests/integration/CorvaneProcess.h"
#include "tests/integration/HeadlessRig.h"
#include "tests/integration/SignalClient.h"
#include "tests/support/JackServer.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

TEST(HeadlessPeriodSize, LatencyIsTheServersToTheFrameAndAChangeMidRunIsFollowedWithoutARestart) {
    JackServer server({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 2});
    ASSERT_TRUE(server.start()) << server.logPath();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString reportPath = dir.filePath(QStringLiteral("report.json"));

    CorvaneProcess corvane(QString::fromStdString(server.name()), {{"QT_LOGGING_RULES", "corvane.engine.info=true"}});
    ASSERT_TRUE(corvane.start({QStringLiteral("--headless"), QStringLiteral("--device"), QStringLiteral("jack:system"),
                               QStringLiteral("--strip"), QStringLiteral("1:in=1,out=1"), QStringLiteral("--report"),
                               reportPath}));
    SignalClient observer("observer", {}, {});
    ASSERT_TRUE(observer.ok());
    const std::string program = waitForProgramClient(observer);
    ASSERT_FALSE(program.empty()) << "the program's ports never appeared";
    ASSERT_TRUE(waitForPeriods(observer, 20));
    // What the server says its ports add, at the size the run ends with.
    ASSERT_EQ(jack_set_buffer_size(observer.client(), 128), 0);
    ASSERT_TRUE(waitForPeriods(observer, 20));
    jack_latency_range_t capture{}, playback{};
    jack_port_get_latency_range(jack_port_by_name(observer.client(), "system:capture_1"), JackCaptureLatency, &capture);
    jack_port_get_latency_range(jack_port_by_name(observer.client(), "system:playback_1"), JackPlaybackLatency,
                                &playback);
    // Our ports pass audio through: what arrives on them is what leaves them.
    jack_latency_range_t passed{};
    jack_port_get_latency_range(jack_port_by_name(observer.client(), (program + ":out_1").c_str()), JackCaptureLatency,
                                &passed);
    EXPECT_EQ(passed.max, capture.max);

    // The program's own word that it took the new size; its latency estimate
    // follows off the main thread, with nothing to say when, so a few more
    // periods (half a second) before the run is interrupted.
    ASSERT_TRUE(corvane.waitForStandardError(QStringLiteral("now runs periods of 128 frames"), 10s))
        << corvane.standardError().toStdString();
    ASSERT_TRUE(waitForPeriods(observer, 200));
    corvane.interrupt();
    ASSERT_TRUE(corvane.finish(10s)) << corvane.standardError().toStdString();
    EXPECT_EQ(corvane.exitCode(), 130) << corvane.standardError().toStdString();
    EXPECT_EQ(corvane.standardError().count(QStringLiteral("Engine started on")), 1)
        << corvane.standardError().toStdString();
    const QJsonObject report = readReport(reportPath);
    const auto frames = report[QStringLiteral("bufferFrames")].toObject();
    EXPECT_EQ(frames[QStringLiteral("actual")].toInt(), 128);
    EXPECT_EQ(frames[QStringLiteral("requested")].toInt(), 128) << "never chosen, so it follows the server";
    const double roundTripFrames = report[QStringLiteral("latency")].toObject()[QStringLiteral("roundTripMs")].toDouble() *
                                   48000.0 / 1000.0;
    EXPECT_NEAR(roundTripFrames, double(capture.max + playback.max), 0.1);
}

} // namespace
} // namespace corvane::test
