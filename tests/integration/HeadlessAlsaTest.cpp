// A headless run on an ALSA device: a PCM of type `jack` named through
// CORVANE_ALSA_DEVICES, which carries a feeding client's tones into the program
// and its outputs to a listening client on a private jackd. The audio is
// checked from the listener's side; the device's xruns and latency are
// checked against the ALSA backend itself.
#include "tests/integration/HeadlessRig.h"
#include "tests/integration/XrunWitness.h"
#include "tests/support/AlsaJackPcm.h"
#include "tests/support/EventLoop.h"

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

TEST(HeadlessAlsa, TwoTonesReachTheOutputsSampleExactlyThroughABufferOfTwoServerPeriods) {
    if (!AlsaJackPcm::pluginInstalled())
        GTEST_SKIP() << "ALSA's jack plug-in (libasound2-plugins) is not installed";
    // Twice the server's period: each transfer spans two of the server's cycles.
    const int buffer = 512;
    JackServer server({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 2});
    ASSERT_TRUE(server.start()) << server.logPath();
    XrunWitness witness("witness", "system:capture_1");
    SignalClient feeder("feeder", {kFirst, kSecond}, 0);
    SignalClient listener("listener", {}, 2);
    ASSERT_TRUE(feeder.ok() && listener.ok() && witness.ok());
    AlsaJackPcm pcm("corvane_headless", {feeder.outputName(1), feeder.outputName(2)},
                    {listener.inputName(1), listener.inputName(2)});
    ASSERT_TRUE(pcm.ok());
    HeadlessRun run(server, {{"CORVANE_ALSA_DEVICES", "corvane_headless"},
                             {"ALSA_CONFIG_PATH", QString::fromStdString(pcm.configPath())}});
    ASSERT_TRUE(run.start({"--device", "alsa-pcm:corvane_headless", "--buffer", QString::number(buffer), "--strip",
                           "1:in=1,out=2", "--strip", "2:in=2,out=1"}));

    // The PCM connects itself once the program starts it.
    ASSERT_TRUE(waitFor([&] { return !listener.connections(listener.inputName(2)).empty(); }, 10s))
        << run.corvane.standardError().toStdString();
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

    const QJsonObject report = run.interruptAndReport();
    EXPECT_EQ(report["device"].toString(), "alsa-pcm:corvane_headless");
    EXPECT_EQ(report["bufferFrames"]["actual"].toInt(), buffer);
}

} // namespace
} // namespace corvane::test
