// A headless run on an ALSA device: a PCM of type `jack` named through
// CORVANE_ALSA_DEVICES, which carries a feeding client's tones into the program
// and its outputs to a listening client on a private jackd. The audio is
// checked from the listener's side, the report's dropouts and latency too.
#include "tests/integration/CorvaneProcess.h"
#include "tests/integration/HeadlessRig.h"
#include "tests/integration/SignalClient.h"
#include "tests/integration/XrunWitness.h"
#include "tests/support/AlsaJackPcm.h"
#include "tests/support/EventLoop.h"
#include "tests/support/JackServer.h"

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <optional>

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

constexpr Tone kFirst{0.5f, 48};
constexpr Tone kSecond{0.25f, 120};
constexpr std::size_t kChunk = 256;

struct Match {
    std::size_t chunks = 0;
    std::size_t exact = 0;  // chunks where every sample is the tone's at one delay
    std::size_t shifts = 0; // times that delay changed from one exact chunk to the next
    std::string pattern;    // per chunk: '+' exact at the delay before, '/' exact at a new one, '.' not exact
};

// The ALSA path delays the audio by a few periods; each chunk must carry the
// tone sample for sample at some delay (modulo the tone's cycle, all a sine
// can tell). The delay may only change where the server skipped a cycle: the
// plug-in's client then loses one that the program never sees.
Match matchTone(const std::vector<float>& heard, const Tone& tone) {
    Match match;
    std::optional<std::size_t> delay;
    for (std::size_t start = 0; start + kChunk <= heard.size(); start += kChunk) {
        std::optional<std::size_t> fits;
        for (std::size_t offset = 0; offset < tone.periodFrames && !fits; ++offset) {
            bool exact = true;
            for (std::size_t i = start; i < start + kChunk && exact; ++i)
                exact = std::abs(heard[i] - tone.at(i + offset)) <= SignalClient::kTolerance;
            if (exact)
                fits = offset;
        }
        ++match.chunks;
        if (!fits) {
            match.pattern += '.';
            continue;
        }
        ++match.exact;
        const bool shifted = delay && *delay != *fits;
        match.shifts += shifted;
        match.pattern += shifted ? '/' : '+';
        delay = fits;
    }
    return match;
}

TEST(HeadlessAlsa, TwoTonesReachTheOutputsSampleExactlyAndTheReportCountsTheOverrunAndTheAlsaBuffer) {
    if (!AlsaJackPcm::pluginInstalled())
        GTEST_SKIP() << "ALSA's jack plug-in (libasound2-plugins) is not installed";
    // Twice the server's period: the report must tell the ALSA buffer from the server's.
    const int buffer = 512;
    JackServer server({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 2});
    ASSERT_TRUE(server.start()) << server.logPath();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString reportPath = dir.filePath(QStringLiteral("report.json"));

    XrunWitness witness("witness", "system:capture_1");
    SignalClient feeder("feeder", {kFirst, kSecond}, {});
    SignalClient listener("listener", {}, {kSecond, kFirst});
    ASSERT_TRUE(feeder.ok() && listener.ok() && witness.ok());
    AlsaJackPcm pcm("corvane_headless", {feeder.outputName(1), feeder.outputName(2)},
                    {listener.inputName(1), listener.inputName(2)});
    ASSERT_TRUE(pcm.ok());

    // Strip 1 runs the stall fixture, a pass-through that stops for 80 ms
    // once, about 2.7 s into the run: long after the audio was checked,
    // and longer than the two periods ALSA buffers. The file it leaves
    // when it stops says when the run has what it needs to count.
    const int stallAfter = 500 * 256 / buffer;
    const QString stallMark = dir.filePath(QStringLiteral("stalled"));
    CorvaneProcess corvane(QString::fromStdString(server.name()),
                           {{"CORVANE_ALSA_DEVICES", "corvane_headless"},
                            {"ALSA_CONFIG_PATH", QString::fromStdString(pcm.configPath())},
                            {"LV2_PATH", QStringLiteral(CORVANE_LV2_FIXTURE_DIR)},
                            {"CORVANE_TEST_STALL_AFTER", QString::number(stallAfter)},
                            {"CORVANE_TEST_STALL_FOR_MS", "80"},
                            {"CORVANE_TEST_STALL_MARK", stallMark}});
    ASSERT_TRUE(corvane.start({QStringLiteral("--headless"), QStringLiteral("--device"),
                               QStringLiteral("alsa-pcm:corvane_headless"), QStringLiteral("--buffer"),
                               QString::number(buffer), QStringLiteral("--strip"),
                               QStringLiteral("1:in=1,out=2,plugin=urn:corvane:test:stall"),
                               QStringLiteral("--strip"), QStringLiteral("2:in=2,out=1"),
                               QStringLiteral("--report"), reportPath}));

    // The PCM connects itself once the program starts it.
    ASSERT_TRUE(waitFor([&] { return !listener.connections(listener.inputName(2)).empty(); }, 10s))
        << corvane.standardError().toStdString();
    ASSERT_TRUE(waitForPeriods(listener, 40));
    const int serverXruns = witness.total();
    listener.record(48000); // one second
    ASSERT_TRUE(waitFor([&] { return listener.recorded(); }, 5s));
    const int skipped = witness.total() - serverXruns;
    for (std::size_t k = 1; k <= 2; ++k) {
        const Match match = matchTone(listener.recording(k), k == 1 ? kSecond : kFirst);
        // A wrong route or gain spoils every chunk, a lost or repeated
        // sample shifts the delay; a cycle the server skipped may do both, once.
        EXPECT_LE(match.shifts, std::size_t(skipped)) << "in_" << k << ": " << match.pattern;
        EXPECT_GE(match.exact + std::size_t(skipped), match.chunks) << "in_" << k << ": " << match.pattern;
    }

    // The overrun is counted on the first transfer after the stall: a
    // hundred periods (half a second) later it surely has been.
    ASSERT_TRUE(waitFor([&] { return QFile::exists(stallMark); }, 10s)) << corvane.standardError().toStdString();
    ASSERT_TRUE(waitForPeriods(listener, 100));
    corvane.interrupt();
    ASSERT_TRUE(corvane.finish(15s)) << corvane.standardError().toStdString();
    EXPECT_EQ(corvane.exitCode(), 130) << corvane.standardError().toStdString();
    const QJsonObject report = readReport(reportPath);
    EXPECT_EQ(report[QStringLiteral("device")].toString(), QStringLiteral("alsa-pcm:corvane_headless"));
    EXPECT_EQ(report[QStringLiteral("bufferFrames")][QStringLiteral("actual")].toInt(), buffer);
    const int dropouts = report[QStringLiteral("dropouts")].toInt(-1);
    EXPECT_GE(dropouts, 1) << "the 80 ms stall was not counted";
    EXPECT_LE(dropouts, 3);
    // Input: one period; output: one period plus the rest of ALSA's two.
    const QJsonObject latency = report[QStringLiteral("latency")].toObject();
    EXPECT_NEAR(latency[QStringLiteral("roundTripMs")].toDouble(), 3.0 * buffer / 48.0, 0.01);
    EXPECT_TRUE(latency[QStringLiteral("summary")].toString().contains(
        QStringLiteral("(buffer + %1 frames)").arg(buffer)))
        << latency[QStringLiteral("summary")].toString().toStdString();
}

} // namespace
} // namespace corvane::test
