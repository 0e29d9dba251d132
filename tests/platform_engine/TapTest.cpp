// Taps: the render thread copies a bus into a ring; the tap thread hands it to
// the block in chunks of the requested size. And the lock-free ring itself.
#include "platform/engine/AudioRing.h"
#include "platform/system/RealtimeScope.h"
#include "platform/system/MainThread.h"
#include "tests/platform_engine/EngineRig.h"
#include "tests/support/EventLoop.h"
#include "tests/support/RealtimeChecker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <numeric>
#include <thread>
#include <vector>

using namespace corvane;
using namespace corvane::test;

namespace {

// What a tap block saw. Only the tap thread writes; the test reads the
// samples after stop(), which returns once that thread has ended.
struct Received {
    std::atomic<std::size_t> chunks{0};
    std::vector<std::uint32_t> chunkSizes;
    Channels samples; // concatenated, per channel
    bool onRenderOrMainThread = false;

    engine::TapBlock block() {
        return [this](const float* const* channels, int count, std::uint32_t frames) {
            chunkSizes.push_back(frames);
            onRenderOrMainThread |= corvane::inRealtimeScope() || isMainThread();
            samples.resize(static_cast<std::size_t>(count));
            for (std::size_t c = 0; c < samples.size(); ++c)
                samples[c].insert(samples[c].end(), channels[c], channels[c] + frames);
            ++chunks;
        };
    }
};

// Device inputs 3 and 4 -> splitter -> combiner -> device outputs 0 and 1, 32-frame periods.
class Taps : public ::testing::Test {
  protected:
    Taps() {
        e.attach(splitter);
        e.attach(combiner);
        EXPECT_TRUE(e.connect(e.inputNode(), 0, *splitter, 0, rig.format(8)));
        EXPECT_TRUE(e.connect(*splitter, 0, *combiner, 0, rig.format(2)));
        EXPECT_TRUE(e.connect(*combiner, 0, e.outputNode(), 0, rig.format(8)));
    }

    // Periods [first, first + count) through the graph.
    void run(int first, int count) {
        for (int p = first; p < first + count; ++p)
            rig.period(rig.inputs(32, p), 32);
    }

    // Device input `channel` over periods [first, first + count), its first `keep` frames.
    static std::vector<float> rendered(int channel, int first, int count, std::size_t keep = SIZE_MAX) {
        std::vector<float> all;
        for (int p = first; p < first + count; ++p)
            for (std::uint32_t f = 0; f < 32; ++f)
                all.push_back(sampleAt(channel, f, p));
        all.resize(std::min(keep, all.size()));
        return all;
    }

    RealtimeChecker checker;
    EngineRig rig{48000.0, 32};
    engine::Engine& e = *rig.engine;
    std::shared_ptr<engine::MatrixMixerUnit> splitter = makeSplitter({3, 4}, rig.sampleRate);
    std::shared_ptr<engine::MatrixMixerUnit> combiner =
        makeCombiner({2}, 8, {{0, 0}, {1, 1}}, rig.sampleRate);
};

} // namespace

TEST_F(Taps, DeliverExactlyTheRenderedSamplesInWholeChunksOfTheRequestedSizeOffTheRenderThread) {
    Received received;
    ASSERT_TRUE(e.installTap(*splitter, 0, 100, rig.format(2), received.block()));
    rig.start();
    run(0, 40); // 1280 frames: twelve whole chunks of 100, 80 frames left over
    ASSERT_TRUE(waitFor([&] { return received.chunks >= 12; }));
    e.stop();

    EXPECT_EQ(received.chunkSizes, std::vector<std::uint32_t>(12, 100));
    // Woken per completed chunk, never per period: 12 wake-ups for 40 periods.
    EXPECT_EQ(e.renderer().tapWakeups(), 12u);
    // The 80 frames left over are not delivered.
    EXPECT_EQ(received.samples, (Channels{rendered(3, 0, 40, 1200), rendered(4, 0, 40, 1200)}));
    EXPECT_FALSE(received.onRenderOrMainThread);

    // Nor after a new start: the next chunk holds only audio of the new run.
    rig.start();
    run(50, 4);
    ASSERT_TRUE(waitFor([&] { return received.chunks == 13; }));
    e.stop();
    EXPECT_EQ(std::vector<float>(received.samples[0].begin() + 1200, received.samples[0].end()),
              rendered(3, 50, 4, 100));
    EXPECT_EQ(checker.violations(), 0u) << checker.report();
}

TEST_F(Taps, WokenAtEveryFourthChunkLeaveNothingBehindThatDeliverTapsTakes) {
    Received received;
    ASSERT_TRUE(e.installTap(*splitter, 0, 100, rig.format(2), received.block()));
    e.setTapChunksPerWake(4);
    rig.start();
    run(0, 36); // 1152 frames: eleven whole chunks
    EXPECT_EQ(e.renderer().tapWakeups(), 2u);
    e.deliverTaps(); // the last three, which no wake-up announced
    EXPECT_EQ(received.chunks, 11u);
    e.stop();
    EXPECT_EQ(received.samples, (Channels{rendered(3, 0, 36, 1100), rendered(4, 0, 36, 1100)}));
    EXPECT_EQ(checker.violations(), 0u) << checker.report();
}

TEST_F(Taps, AdaptTheBusToTheTapFormatByTheChannelRule) {
    Received wide, narrow;
    auto mono = makeSplitter({6}, rig.sampleRate);
    e.attach(mono);
    ASSERT_TRUE(e.connect(e.inputNode(), 0, {{splitter.get(), 0}, {mono.get(), 0}}, rig.format(8)));
    ASSERT_TRUE(e.installTap(*mono, 0, 64, rig.format(2), wide.block()));
    ASSERT_TRUE(e.installTap(*splitter, 0, 64, rig.format(1), narrow.block()));
    rig.start();
    run(0, 2);
    ASSERT_TRUE(waitFor([&] { return wide.chunks == 1 && narrow.chunks == 1; }));
    e.stop();

    EXPECT_EQ(wide.samples, Channels(2, rendered(6, 0, 2)));
    std::vector<float> mixed = rendered(3, 0, 2);
    for (std::size_t f = 0; f < 64; ++f)
        mixed[f] = 0.5f * mixed[f] + 0.5f * rendered(4, 0, 2)[f];
    EXPECT_EQ(narrow.samples, Channels{mixed});
}

TEST_F(Taps, AreRefusedWhereThereIsNothingToTapAndCanBeAddedAndRemovedWhileRunning) {
    Received first, second, none;
    ASSERT_TRUE(e.installTap(*splitter, 0, 32, rig.format(2), first.block()));
    EXPECT_FALSE(e.installTap(*splitter, 0, 32, rig.format(2), first.block())) << "one tap per bus";
    EXPECT_FALSE(e.installTap(e.outputNode(), 0, 64, rig.format(2), none.block()));
    EXPECT_FALSE(e.installTap(*splitter, 1, 64, rig.format(2), none.block()));
    EXPECT_FALSE(e.installTap(*combiner, 0, 0, rig.format(2), none.block()));
    auto stray = std::make_shared<engine::MatrixMixerUnit>();
    EXPECT_FALSE(e.installTap(*stray, 0, 64, rig.format(2), none.block()));
    EXPECT_NE(e.lastError().find("not attached"), std::string::npos) << e.lastError();
    e.attach(stray);
    rig.start();
    EXPECT_FALSE(e.installTap(*stray, 0, 64, rig.format(2), none.block())) << "outside the graph: never prepared";
    run(0, 2);
    ASSERT_TRUE(waitFor([&] { return first.chunks == 2; }));

    e.removeTap(*splitter, 0);
    ASSERT_TRUE(e.installTap(*combiner, 0, 32, rig.format(8), second.block()));
    run(2, 3);
    ASSERT_TRUE(waitFor([&] { return second.chunks == 3; }));
    e.stop();

    EXPECT_EQ(first.chunks.load(), 2u);
    EXPECT_EQ(second.samples[0], rendered(3, 2, 3));
    EXPECT_EQ(second.samples[1], rendered(4, 2, 3));
    EXPECT_EQ(second.samples[7], std::vector<float>(96, 0.0f));
    EXPECT_EQ(none.chunks.load(), 0u);
    EXPECT_EQ(checker.violations(), 0u) << checker.report();
}

TEST(AudioRing, CarriesFramesAcrossTheWrapAndDropsWholePeriodsWhenFull) {
    engine::AudioRing ring(2, 10); // rounds up to 16 frames
    EXPECT_EQ(ring.capacity(), 16u);
    std::vector<float> left(12), right(12);
    std::iota(left.begin(), left.end(), 1.0f);
    std::iota(right.begin(), right.end(), 101.0f);
    const float* source[] = {left.data(), right.data()};

    std::vector<float> outLeft(16), outRight(16);
    float* destination[] = {outLeft.data(), outRight.data()};
    ASSERT_TRUE(ring.write(source, 12));
    EXPECT_EQ(ring.read(destination, 8), 8u);
    // 4 left, 12 more fit (the write wraps); 1 more does not and is dropped whole.
    ASSERT_TRUE(ring.write(source, 12));
    EXPECT_FALSE(ring.write(source, 1));
    EXPECT_EQ(ring.droppedFrames(), 1u);
    EXPECT_EQ(ring.readable(), 16u);
    EXPECT_EQ(ring.read(destination, 16), 16u);
    const std::vector<float> expectedLeft = {9, 10, 11, 12, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_EQ(outLeft, expectedLeft);
    EXPECT_EQ(outRight[4], 101.0f);
    EXPECT_EQ(ring.read(destination, 4), 0u);
}

TEST(AudioRing, ASecondThreadReadsEverythingInOrder) {
    engine::AudioRing ring(1, 64);
    constexpr std::uint32_t kTotal = 100000;
    std::thread producer([&] {
        float block[16];
        const float* source[] = {block};
        for (std::uint32_t next = 0; next < kTotal;) {
            for (std::uint32_t f = 0; f < 16; ++f)
                block[f] = static_cast<float>(next + f);
            if (ring.write(source, 16))
                next += 16;
            else
                std::this_thread::yield();
        }
    });
    std::vector<float> got;
    float chunk[7];
    float* destination[] = {chunk};
    while (got.size() < kTotal) {
        const auto n = ring.read(destination, 7);
        got.insert(got.end(), chunk, chunk + n);
    }
    producer.join();
    for (std::uint32_t i = 0; i < kTotal; ++i)
        ASSERT_EQ(got[i], static_cast<float>(i));
}
