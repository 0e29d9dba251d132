#include "engine/RoutingPlan.h"

#include <gtest/gtest.h>

using namespace corvane;
using Request = RoutingPlan::SlotRequest;
using Crosspoint = RoutingPlan::Crosspoint;

namespace {
QList<Crosspoint> unity(const QList<Crosspoint>& all) {
    QList<Crosspoint> ones;
    for (const auto& c : all) {
        EXPECT_TRUE(c.gain == 0.0f || c.gain == 1.0f);
        if (c.gain == 1.0f)
            ones.append(c);
    }
    return ones;
}
} // namespace

TEST(RoutingPlan, KeepsOnlyStripsWhoseBothSidesFitTheDevice) {
    const QList<Request> requests = {
        {0, 0, false, std::nullopt, false}, // input only
        {1, std::nullopt, false, 0, false}, // output only
        {2, 1, true, 0, false},             // stereo on input 1 of 2 needs input 2
        {3, 0, true, 7, false},             // stereo input 0-1, mono output 7 of 8
        {4, 0, false, 7, true},             // stereo output 7 needs output 8
        {5, -1, false, 0, false},           // negative channel
        {6, 1, false, 0, false},
    };
    const RoutingPlan plan(requests, 2, 8);
    ASSERT_EQ(plan.routes.size(), 2);
    EXPECT_EQ(plan.routes[0], (RoutingPlan::Route{3, 0, true, 7, false}));
    EXPECT_EQ(plan.routes[1], (RoutingPlan::Route{6, 1, false, 0, false}));
    EXPECT_EQ(plan.inputChannelCount, 2);
    EXPECT_EQ(plan.outputChannelCount, 8);

    EXPECT_TRUE(RoutingPlan(requests, 0, 8).routes.isEmpty());
    EXPECT_TRUE(RoutingPlan(requests, 2, 0).routes.isEmpty());
}

TEST(RoutingPlan, CombinerNumbersRouteOutputsConsecutivelyAndWritesTheWholeMatrix) {
    // A dropped strip between the two must leave no gap in the numbering.
    const QList<Request> requests = {
        {0, 0, false, 2, true},
        {1, 0, false, std::nullopt, false},
        {2, 1, false, 0, false},
    };
    const RoutingPlan plan(requests, 2, 4);
    EXPECT_EQ(plan.combinerInputChannelCounts(), (QList<int>{2, 1}));
    const auto list = plan.combinerCrosspoints();
    ASSERT_EQ(list.size(), 12);
    // Input-major order: all outputs of combiner input 0 first.
    EXPECT_EQ(list[0], (Crosspoint{0, 0, 0.0f}));
    EXPECT_EQ(list[3], (Crosspoint{0, 3, 0.0f}));
    EXPECT_EQ(list[4], (Crosspoint{1, 0, 0.0f}));
    EXPECT_EQ(unity(list), (QList<Crosspoint>{{0, 2, 1.0f}, {1, 3, 1.0f}, {2, 0, 1.0f}}));

    RoutingPlan none({}, 2, 0); // no outputs: nothing to write
    none.routes = {{0, 0, true, 0, true}};
    EXPECT_TRUE(none.combinerCrosspoints().isEmpty());
    EXPECT_EQ(none.combinerInputChannelCounts(), (QList<int>{2}));
}

TEST(RoutingPlan, SplitterPicksTheRouteInputsOutOfAllDeviceInputs) {
    const RoutingPlan::Route stereo{0, 4, true, 0, false};
    const auto list = RoutingPlan::splitterCrosspoints(stereo, 6);
    ASSERT_EQ(list.size(), 12);
    EXPECT_EQ(list[0], (Crosspoint{0, 0, 0.0f}));
    EXPECT_EQ(list[6], (Crosspoint{0, 1, 0.0f})); // side channel outer, device input inner
    EXPECT_EQ(unity(list), (QList<Crosspoint>{{4, 0, 1.0f}, {5, 1, 1.0f}}));

    const RoutingPlan::Route mono{0, 2, false, 0, false};
    EXPECT_EQ(unity(RoutingPlan::splitterCrosspoints(mono, 4)), (QList<Crosspoint>{{2, 0, 1.0f}}));
    EXPECT_TRUE(RoutingPlan::splitterCrosspoints(mono, 0).isEmpty());
}
