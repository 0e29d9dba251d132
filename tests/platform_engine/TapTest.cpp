// Taps: the render thread copies a bus into a ring; the tap thread hands it to
// the block in chunks of the requested size.
#include "tests/platform_engine/EngineRig.h"
#include "tests/support/EventLoop.h"
#include "tests/support/RealtimeChecker.h"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

using namespace corvane;
using namespace corvane::test;

namespace {

// What a tap block saw, gathered under a lock (the block runs on the tap thread).
struct Received {
    std::mutex mutex;
    std::vector<std::uint32_t> chunkSizes;
    std::vector<int> channelCounts;
    Channels samples; // concatenated, per channel
    std::vector<std::thread::id> threads;

    engine::TapBlock block() {
        return [this](const float* const* channels, int count, std::uint32_t frames) {
            std::lock_guard lock(mutex);
            chunkSizes.push_back(frames);
            channelCounts.push_back(count);
            threads.push_back(std::this_thread::get_id());
            samples.resize(static_cast<std::size_t>(count));
            for (int c = 0; c < count; ++c)
                samples[static_cast<std::size_t>(c)].insert(samples[static_cast<std::size_t>(c)].end(), channels[c],
                                                            channels[c] + frames);
        };
    }
    std::size_t chunks() {
        std::lock_guard lock(mutex);
        return chunkSizes.size();
    }
};

class Taps : public ::testing::Test {
protected:
    Taps() : rig(48000.0, 32) {}

    void SetUp() override {
        splitter = makeSplitter(8, {3, 4}, rig.sampleRate);
        combiner = makeCombiner({2}, 8, {{0, 0}, {1, 1}}, rig.sampleRate);
        auto& e = *rig.engine;
        e.attach(splitter);
        e.attach(combiner);
        ASSERT_TRUE(e.connect(e.inputNode(), 0, *splitter, 0, rig.format(8)));
        ASSERT_TRUE(e.connect(*splitter, 0, *combiner, 0, rig.format(2)));
        ASSERT_TRUE(e.connect(*combiner, 0, e.outputNode(), 0, rig.format(8)));
    }

    void start() {
        std::string error;
        ASSERT_TRUE(rig.engine->start(error)) << error;
    }

    // Runs `periods` periods of 32 frames from period number `first` on.
    void run(int first, int periods) {
        for (int p = first; p < first + periods; ++p)
            rig.period(rig.inputs(32, p), 32);
    }

    // Device input `channel` over periods [first, first + periods).
    static std::vector<float> rendered(int channel, int first, int periods) {
        std::vector<float> all;
        for (int p = first; p < first + periods; ++p)
            for (std::uint32_t f = 0; f < 32; ++f)
                all.push_back(sampleAt(channel, f, p));
        return all;
    }

    RealtimeChecker checker;
    EngineRig rig;
    std::shared_ptr<engine::MatrixMixerUnit> splitter;
    std::shared_ptr<engine::MatrixMixerUnit> combiner;
};

} // namespace

TEST_F(Taps, DeliverExactlyTheRenderedSamplesInChunksOfTheRequestedSizeOffTheRenderThread) {
    Received received;
    ASSERT_TRUE(rig.engine->installTap(*splitter, 0, 100, rig.format(2), received.block()));
    start();
    run(0, 40); // 1280 frames: twelve whole chunks of 100, 80 frames left over
    ASSERT_TRUE(waitFor([&] { return received.chunks() >= 12; }));
    rig.engine->stop();

    std::lock_guard lock(received.mutex);
    EXPECT_EQ(received.chunkSizes, std::vector<std::uint32_t>(12, 100));
    EXPECT_EQ(received.channelCounts, std::vector<int>(12, 2));
    auto expectedLeft = rendered(3, 0, 40);
    auto expectedRight = rendered(4, 0, 40);
    expectedLeft.resize(1200);
    expectedRight.resize(1200);
    EXPECT_EQ(received.samples[0], expectedLeft);
    EXPECT_EQ(received.samples[1], expectedRight);
    for (auto id : received.threads) {
        EXPECT_NE(id, rig.backend->ioThread());
        EXPECT_NE(id, std::this_thread::get_id());
    }
    EXPECT_EQ(checker.violations(), 0u) << checker.report();
}

TEST_F(Taps, AdaptTheBusToTheTapFormatByTheChannelRule) {
    Received wide;
    Received narrow;
    auto mono = makeSplitter(8, {6}, rig.sampleRate);
    rig.engine->attach(mono);
    ASSERT_TRUE(rig.engine->connect(rig.engine->inputNode(), 0,
                                    std::vector<engine::ConnectionPoint>{{splitter.get(), 0}, {mono.get(), 0}},
                                    rig.format(8)));
    ASSERT_TRUE(rig.engine->installTap(*mono, 0, 64, rig.format(2), wide.block()));
    ASSERT_TRUE(rig.engine->installTap(*splitter, 0, 64, rig.format(1), narrow.block()));
    start();
    run(0, 2);
    ASSERT_TRUE(waitFor([&] { return wide.chunks() == 1 && narrow.chunks() == 1; }));
    rig.engine->stop();

    const auto six = rendered(6, 0, 2);
    EXPECT_EQ(wide.samples[0], six);
    EXPECT_EQ(wide.samples[1], six);
    const auto three = rendered(3, 0, 2);
    const auto four = rendered(4, 0, 2);
    ASSERT_EQ(narrow.samples.size(), 1u);
    for (std::size_t f = 0; f < 64; ++f)
        ASSERT_EQ(narrow.samples[0][f], 0.5f * three[f] + 0.5f * four[f]);
}

TEST_F(Taps, CanBeAddedAndRemovedWhileRunningAndARemovedBlockIsNeverCalledAgain) {
    Received first;
    ASSERT_TRUE(rig.engine->installTap(*splitter, 0, 32, rig.format(2), first.block()));
    EXPECT_FALSE(rig.engine->installTap(*splitter, 0, 32, rig.format(2), first.block()))
        << "one tap per bus";
    start();
    run(0, 2);
    ASSERT_TRUE(waitFor([&] { return first.chunks() == 2; }));

    rig.engine->removeTap(*splitter, 0);
    Received second;
    ASSERT_TRUE(rig.engine->installTap(*combiner, 0, 32, rig.format(8), second.block()));
    run(2, 3);
    ASSERT_TRUE(waitFor([&] { return second.chunks() == 3; }));
    rig.engine->stop();

    EXPECT_EQ(first.chunks(), 2u);
    // The combiner places the strip on outputs 0 and 1 of its eight.
    EXPECT_EQ(second.samples[0], rendered(3, 2, 3));
    EXPECT_EQ(second.samples[1], rendered(4, 2, 3));
    EXPECT_EQ(second.samples[7], std::vector<float>(96, 0.0f));
    EXPECT_EQ(checker.violations(), 0u) << checker.report();
}

TEST_F(Taps, AStopDropsAudioNotYetDelivered) {
    Received received;
    ASSERT_TRUE(rig.engine->installTap(*splitter, 0, 64, rig.format(2), received.block()));
    start();
    run(0, 1); // half a chunk
    rig.engine->stop();
    start();
    run(10, 2);
    ASSERT_TRUE(waitFor([&] { return received.chunks() == 1; }));
    rig.engine->stop();
    EXPECT_EQ(received.samples[0], rendered(3, 10, 2)) << "the chunk holds only audio of the new run";
}

TEST_F(Taps, AreRefusedWhereThereIsNothingToTap) {
    Received received;
    auto& e = *rig.engine;
    EXPECT_FALSE(e.installTap(e.outputNode(), 0, 64, rig.format(2), received.block()));
    EXPECT_FALSE(e.installTap(*splitter, 1, 64, rig.format(2), received.block()));
    EXPECT_FALSE(e.installTap(*splitter, 0, 0, rig.format(2), received.block()));
    auto stray = std::make_shared<engine::MatrixMixerUnit>();
    EXPECT_FALSE(e.installTap(*stray, 0, 64, rig.format(2), received.block()));
    EXPECT_NE(e.lastError().find("not attached"), std::string::npos) << e.lastError();

    // Attached but outside the running graph: it was never prepared.
    e.attach(stray);
    start();
    EXPECT_FALSE(e.installTap(*stray, 0, 64, rig.format(2), received.block()));
    EXPECT_TRUE(e.installTap(e.inputNode(), 0, 64, rig.format(8), received.block())) << e.lastError();
}
