// The lock-free ring between the render thread and the tap thread.
#include "platform/engine/AudioRing.h"

#include <gtest/gtest.h>

#include <numeric>
#include <thread>
#include <vector>

using corvane::engine::AudioRing;

TEST(AudioRing, CarriesFramesAcrossTheWrapAndDropsWholePeriodsWhenFull) {
    AudioRing ring(2, 10); // rounds up to 16 frames
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
    AudioRing ring(1, 64);
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
