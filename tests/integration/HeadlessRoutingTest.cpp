// A headless run on a real JACK server: the audio a strip routes, checked from
// outside by other clients, and the report's account of it.
#include "tests/integration/CorvaneProcess.h"
#include "tests/integration/HeadlessRig.h"
#include "tests/integration/SignalClient.h"
#include "tests/support/JackServer.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

// Two sines that cannot be mistaken for each other, nor for their sum. Both
// reach their amplitude exactly (a quarter period is a whole sample).
constexpr Tone kFirst{0.5f, 48};   // 1 kHz at 48 kHz
constexpr Tone kSecond{0.25f, 120}; // 400 Hz

TEST(HeadlessRouting, EachStripCarriesItsInputToItsOutputAndTheReportSaysSo) {
    JackServer server({.rate = 48000, .frames = 256, .inputs = 4, .outputs = 4});
    ASSERT_TRUE(server.start()) << server.logPath();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString reportPath = dir.filePath(QStringLiteral("report.json"));

    // Listening first: the feeder's ports must not be mistaken for the program's.
    SignalClient listener("listener", {}, {kSecond, kFirst});
    ASSERT_TRUE(listener.ok());
    CorvaneProcess corvane(QString::fromStdString(server.name()));
    ASSERT_TRUE(corvane.start({QStringLiteral("--headless"), QStringLiteral("--device"), QStringLiteral("jack:system"),
                               QStringLiteral("--buffer"), QStringLiteral("256"), QStringLiteral("--strip"),
                               QStringLiteral("1:in=1,out=2"), QStringLiteral("--strip"), QStringLiteral("2:in=2,out=1"),
                               QStringLiteral("--report"), reportPath}));

    const std::string program = waitForProgramClient(listener);
    ASSERT_FALSE(program.empty()) << "the program's ports never appeared";
    SignalClient feeder("feeder", {kFirst, kSecond}, {});
    ASSERT_TRUE(feeder.ok());
    ASSERT_TRUE(feeder.connect(feeder.outputName(1), program + ":in_1"));
    ASSERT_TRUE(feeder.connect(feeder.outputName(2), program + ":in_2"));
    // The listener's in_1 hears the program's out_1, which strip 2 feeds from in_2.
    ASSERT_TRUE(listener.connect(program + ":out_1", listener.inputName(1)));
    ASSERT_TRUE(listener.connect(program + ":out_2", listener.inputName(2)));

    // A few periods for the connections to take effect, then about 1.6 s of
    // audio compared sample by sample; the run plays until it is interrupted.
    ASSERT_TRUE(waitForPeriods(listener, 20));
    listener.arm();
    ASSERT_TRUE(waitForPeriods(listener, 300));
    listener.disarm();
    // A period the server overran may reach the listener stale; a wrong route,
    // a delay or a gain would spoil every period, not one in fifty.
    for (std::size_t k = 1; k <= 2; ++k) {
        const auto heard = listener.comparison(k);
        EXPECT_GE(heard.periods, 300u) << "out_" << k;
        EXPECT_GE(heard.matching, heard.periods - heard.periods / 50)
            << "out_" << k << ": " << heard.matching << " of " << heard.periods << " periods matched, worst error "
            << heard.worstError;
    }

    corvane.interrupt();
    ASSERT_TRUE(corvane.finish(10s)) << corvane.standardError().toStdString();
    EXPECT_EQ(corvane.exitCode(), 130) << corvane.standardError().toStdString();
    const QJsonObject report = readReport(reportPath);
    EXPECT_TRUE(report[QStringLiteral("interrupted")].toBool());
    EXPECT_EQ(report[QStringLiteral("device")].toString(), QStringLiteral("jack:system"));
    EXPECT_EQ(report[QStringLiteral("sampleRate")][QStringLiteral("actual")].toDouble(), 48000.0);
    EXPECT_EQ(report[QStringLiteral("bufferFrames")][QStringLiteral("actual")].toInt(), 256);
    EXPECT_TRUE(report[QStringLiteral("error")].isNull());

    const QJsonArray strips = report[QStringLiteral("strips")].toArray();
    ASSERT_EQ(strips.size(), 2);
    struct Expected {
        int strip;
        const char* in;
        const char* out;
        Tone tone;
    };
    const Expected expected[] = {{1, "1", "2", kFirst}, {2, "2", "1", kSecond}};
    for (int i = 0; i < 2; ++i) {
        const QJsonObject strip = strips[i].toObject();
        const Expected& e = expected[i];
        SCOPED_TRACE("strip " + std::to_string(e.strip));
        EXPECT_EQ(strip[QStringLiteral("strip")].toInt(), e.strip);
        EXPECT_EQ(strip[QStringLiteral("in")].toString(), QLatin1String(e.in));
        EXPECT_EQ(strip[QStringLiteral("out")].toString(), QLatin1String(e.out));
        EXPECT_TRUE(strip[QStringLiteral("plugin")].isNull());
        // Peaks are the sine's amplitude to the sample; RMS is over blocks that
        // hold a fractional number of cycles, hence the looser bound.
        EXPECT_NEAR(strip[QStringLiteral("inputPeak")].toDouble(), e.tone.amplitude, 1e-4);
        EXPECT_NEAR(strip[QStringLiteral("outputPeak")].toDouble(), e.tone.amplitude, 1e-4);
        EXPECT_NEAR(strip[QStringLiteral("inputRms")].toDouble(), e.tone.rms(), 0.02 * e.tone.rms());
        EXPECT_NEAR(strip[QStringLiteral("outputRms")].toDouble(), e.tone.rms(), 0.02 * e.tone.rms());
    }
}

} // namespace
} // namespace corvane::test
