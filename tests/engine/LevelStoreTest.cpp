#include "engine/LevelMeter.h"
#include "engine/LevelStore.h"
#include "engine/StripMeters.h"
#include "tests/support/ManualTime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace corvane;
using Reading = LevelStore::Reading;
using namespace std::chrono_literals;

TEST(LevelStore, FoldKeepsTheLargestPeakAndRmsIndependentlyPerSide) {
    LevelStore store(8);
    ASSERT_EQ(store.collect().size(), 32u);
    store.fold(3, {0.5f, 0.1f}, {0.2f, 0.2f}, true, false);
    store.fold(3, {0.3f, 0.4f}, {0.0f, 0.0f}, true, false);
    store.fold(3, {0.7f, 0.6f}, {0.6f, 0.5f}, false, true); // output only
    store.fold(5, {0.9f, 0.9f}, {0.8f, 0.8f}, true, true);  // both halves from one tap
    const auto r = store.collect();
    EXPECT_EQ(r[3], (Reading{0.5f, 0.4f}));      // input left: peak of one fold, rms of another
    EXPECT_EQ(r[8 + 3], (Reading{0.2f, 0.2f}));  // input right
    EXPECT_EQ(r[16 + 3], (Reading{0.7f, 0.6f})); // output left
    EXPECT_EQ(r[24 + 3], (Reading{0.6f, 0.5f}));
    EXPECT_EQ(r[5], (Reading{0.9f, 0.9f}));
    EXPECT_EQ(r[16 + 5], (Reading{0.9f, 0.9f}));
    EXPECT_EQ(r[24 + 5], (Reading{0.8f, 0.8f}));
    for (int i : {0, 1, 2, 4, 6, 7})
        EXPECT_EQ(r[std::size_t(i)], Reading{});

    // Collected readings start again from nothing; slots out of range are ignored.
    store.fold(8, {1, 1}, {1, 1}, true, true);
    store.fold(-1, {1, 1}, {1, 1}, true, true);
    const auto again = store.collect();
    EXPECT_TRUE(std::all_of(again.begin(), again.end(), [](Reading x) { return x == Reading{}; }));
    store.fold(0, {1, 1}, {1, 1}, true, true);
    store.clear();
    EXPECT_EQ(store.collect()[0], Reading{});
}

TEST(StripMeters, TickReadingsIntoTheStripsWhileShownAndKeepTheLargestOfARunNobodySaw) {
    ManualClock clock;
    QObject owner;
    const QList<ChannelSlot*> strips{new ChannelSlot(0, &owner), new ChannelSlot(1, &owner)};
    StripMeters meters(clock, strips);
    int ticks = 0;
    meters.start([&] { ++ticks; });
    meters.store().fold(1, {0.5f, 0.25f}, {}, true, false);
    test::runFor(clock, 33ms);
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(strips[1]->inputLevel(), (Reading{0.5f, 0.25f}));

    // Unseen: the store keeps its largest, the strips only fall, the tick slows.
    meters.setShown(false);
    meters.store().fold(1, {0.8f, 0.4f}, {}, true, false);
    test::runFor(clock, 33ms);
    EXPECT_EQ(ticks, 2);
    EXPECT_FLOAT_EQ(strips[1]->inputLevel().peak, 0.5f);
    test::runFor(clock, 249ms);
    EXPECT_EQ(ticks, 2);
    meters.stop(true);
    EXPECT_EQ(meters.lastRunLevels()[1], (Reading{0.8f, 0.4f}));
    EXPECT_EQ(strips[1]->inputLevel(), Reading{});
    test::runFor(clock, 1s);
    EXPECT_EQ(ticks, 2);
}

TEST(LevelMeter, MeasuresTheFirstTwoChannelsAndFallsOffByNineTenthsPerStep) {
    const float left[4] = {0.5f, -1.0f, 0.0f, 0.5f};
    const float right[4] = {0.25f, 0.25f, -0.25f, 0.25f};
    const float third[4] = {9, 9, 9, 9};
    const float* stereo[3] = {left, right, third};
    auto [l, r] = measureLevels(stereo, 3, 4);
    EXPECT_EQ(l.peak, 1.0f);
    EXPECT_NEAR(l.rms, std::sqrt(1.5 / 4), 1e-7);
    EXPECT_EQ(r, (Reading{0.25f, 0.25f}));
    EXPECT_EQ(measureLevels(stereo, 1, 4).second, Reading{});
    EXPECT_EQ(measureLevels(stereo, 2, 0).first, Reading{});
    const float broken[4] = {NAN, 0.5f, INFINITY, -0.5f};
    const float* garbage[1] = {broken};
    const auto measured = measureLevels(garbage, 1, 4).first; // non-finite samples count as silence
    EXPECT_EQ(measured.peak, 0.5f);
    EXPECT_NEAR(measured.rms, std::sqrt(0.5 / 4), 1e-7);

    Reading shown = decayedLevel({}, {1.0f, 0.5f});
    EXPECT_EQ(shown, (Reading{1.0f, 0.5f}));
    shown = decayedLevel(shown, {});
    EXPECT_FLOAT_EQ(shown.peak, 0.9f);
    EXPECT_FLOAT_EQ(decayedLevel(shown, {}).peak, 0.81f);
    EXPECT_EQ(decayedLevel(shown, {0.95f, 0}).peak, 0.95f); // a new reading takes over at once
    // Below half a hundredth it is gone, rather than falling for ever.
    EXPECT_EQ(decayedLevel({0.0055f, 0.0055f}, {}), Reading{});
    EXPECT_GT(decayedLevel({0.006f, 0.006f}, {}).peak, 0.0f);
}
