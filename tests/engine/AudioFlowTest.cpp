// Audio through the whole manager-built graph on the virtual device: what each
// strip takes in must come out where it routes it, in the same period.
#include "engine/LevelStore.h"
#include "tests/engine/VirtualRig.h"
#include "tests/support/EventLoop.h"
#include "tests/support/RealtimeChecker.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

using namespace corvane;
using namespace std::chrono_literals;
using test::kVirtual;
namespace virt = hw::virt;

namespace {

std::vector<float> mix(const std::vector<float>& a, const std::vector<float>& b, float gain) {
    std::vector<float> out(a.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        out[i] = gain * a[i] + gain * b[i];
    return out;
}

void expectSignal(const std::vector<float>& actual, const std::vector<float>& expected, const char* what,
                  float tolerance = 0.0f) {
    ASSERT_EQ(actual.size(), expected.size()) << what;
    for (std::size_t i = 0; i < actual.size(); ++i)
        ASSERT_NEAR(actual[i], expected[i], tolerance) << what << " at frame " << i;
}

LevelStore::Reading levelOf(const std::vector<float>& samples) {
    double peak = 0, sum = 0;
    for (float s : samples) {
        peak = std::max(peak, double(std::abs(s)));
        sum += double(s) * double(s);
    }
    return {float(peak), float(std::sqrt(sum / double(samples.size())))};
}

void expectLevel(LevelStore::Reading actual, LevelStore::Reading expected, const char* what) {
    EXPECT_NEAR(actual.peak, expected.peak, 1e-4) << what;
    EXPECT_NEAR(actual.rms, expected.rms, 1e-4) << what;
}

} // namespace

// Other rates and sizes are the graph's and the device's own tests.
TEST(AudioFlow, EveryStripReachesExactlyItsOutputsInTheSamePeriod) {
    const double rate = 44100;
    const std::uint32_t frames = 32;
    test::VirtualRig rig;
    auto& m = *rig.manager;
    m.setSampleRate(rate);
    m.setBufferFrames(frames);
    // Distinct noise on every input, so a wrong channel or a shifted sample shows.
    for (std::uint32_t c = 0; c < 8; ++c)
        rig.device->setInputSignal(kVirtual, c, virt::Noise{0.1 + 0.05 * c, 100 + c});
    rig.route(0, 0, false, 0, false); // mono 1 -> 1
    rig.route(1, 1, true, 2, true);   // stereo 2-3 -> 3-4
    rig.route(2, 3, false, 4, true);  // mono 4 -> stereo 5-6: both sides
    rig.route(3, 4, true, 6, false);  // stereo 5-6 -> mono 7: mixed down at half gain
    rig.route(4, 6, false, 0, false); // mono 7 -> 1: adds to strip 1
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(m.isRunning()) << m.errorMessage().value_or("").toStdString();
    EXPECT_EQ(m.actualSampleRate(), rate);
    EXPECT_EQ(m.actualBufferFrames(), frames);

    // Less audio than one 33 ms collection of the meters spans, rendered under
    // the allocation checker: the meters must see it without more to come, or
    // a collection can find nothing and a steady tone's meter falls back.
    const std::uint64_t periods = 1024 / frames;
    rig.device->startRecording(kVirtual, 1024);
    test::RealtimeChecker checker;
    rig.render(periods);
    EXPECT_EQ(checker.violations(), 0u) << checker.report();

    std::vector<std::vector<float>> in(8), out(8);
    for (std::uint32_t c = 0; c < 8; ++c) {
        in[c] = rig.device->recordedInput(kVirtual, c);
        out[c] = rig.device->recordedOutput(kVirtual, c);
        ASSERT_EQ(in[c].size(), 1024u);
    }
    expectSignal(out[0], mix(in[0], in[6], 1.0f), "output 1 (two strips summed)", 1e-6f);
    expectSignal(out[2], in[1], "output 3");
    expectSignal(out[3], in[2], "output 4");
    expectSignal(out[4], in[3], "output 5 (mono to stereo, left)");
    expectSignal(out[5], in[3], "output 6 (mono to stereo, right)");
    expectSignal(out[6], mix(in[4], in[5], 0.5f), "output 7 (stereo mixed down)", 1e-6f);
    const std::vector<float> silence(1024, 0.0f);
    expectSignal(out[1], silence, "unrouted output 2");
    expectSignal(out[7], silence, "unrouted output 8");

    // The meters see the audio once the tap thread has delivered it and the
    // meter task has collected it. Taps deliver independently, so keep the
    // highest value each meter showed: a fresh reading is shown as it is.
    std::vector<std::array<LevelStore::Reading, 4>> shown(8);
    auto follow = [&] {
        for (int s = 0; s < 8; ++s) {
            const auto* slot = m.channels()[s];
            const LevelStore::Reading now[4] = {slot->inputLevel(), slot->inputLevelRight(), slot->outputLevel(),
                                                slot->outputLevelRight()};
            for (int k = 0; k < 4; ++k)
                if (now[k].peak > shown[s][k].peak)
                    shown[s][k] = now[k];
        }
    };
    ASSERT_TRUE(test::waitFor([&] {
        rig.clock.advance(33ms);
        test::drainEvents();
        follow();
        return std::all_of(shown.begin(), shown.begin() + 5, [](const auto& r) { return r[2].peak > 0; });
    }));
    expectLevel(shown[0][0], levelOf(in[0]), "strip 1 input");
    expectLevel(shown[0][2], levelOf(in[0]), "strip 1 output");
    EXPECT_EQ(shown[0][1], LevelStore::Reading{});
    expectLevel(shown[1][0], levelOf(in[1]), "strip 2 left");
    expectLevel(shown[1][1], levelOf(in[2]), "strip 2 right");
    expectLevel(shown[2][3], levelOf(in[3]), "strip 3 widened right");
    expectLevel(shown[3][2], levelOf(mix(in[4], in[5], 0.5f)), "strip 4 mixed down");
    EXPECT_EQ(shown[5][0], LevelStore::Reading{});

    m.stop();
    for (auto* slot : m.channels())
        EXPECT_EQ(slot->outputLevel(), LevelStore::Reading{});
}
