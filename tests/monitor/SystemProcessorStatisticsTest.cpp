// The machine's own processor figures: how /proc/stat's columns fold into the
// four states, and that this machine's real files read.
#include "platform/system/SystemProcessorStatistics.h"

#include <gtest/gtest.h>

using namespace corvane;

TEST(SystemProcessorStatistics, FoldsTheKernelsColumnsIntoFourStatesPerCore) {
    // Columns: user nice system idle iowait irq softirq steal guest guest_nice.
    const auto cores = SystemProcessorStatistics::parseCoreTicks(
        "cpu  99 99 99 99 99 99 99 99 0 0\n"
        "cpu0 1 2 3 4 5 6 7 8 9 10\n"
        "cpu1 4294967297 0 4294967295 10\n" // an older kernel's four columns, past 2^32
        "intr 5 0 0\n"
        "softirq 1 2 3\n");
    ASSERT_TRUE(cores);
    EXPECT_EQ(*cores, (std::vector<CoreTicks>{{.user = 1, .system = 3 + 6 + 7 + 8, .idle = 4 + 5, .nice = 2},
                                              {.user = 1, .system = 4294967295u, .idle = 10, .nice = 0}}));

    EXPECT_FALSE(SystemProcessorStatistics::parseCoreTicks("cpu  1 2 3 4\nintr 5\n")) << "no core at all";
    EXPECT_FALSE(SystemProcessorStatistics::parseCoreTicks("cpu0 1 2 3 4\ncpu1 1 2 x 4\n")) << "a broken line";
    EXPECT_FALSE(SystemProcessorStatistics::parseCoreTicks("cpu0 1 2 3\n")) << "no idle column";
}

TEST(SystemProcessorStatistics, ReadsThisMachine) {
    auto& statistics = SystemProcessorStatistics::instance();
    const auto cores = statistics.coreTicks();
    ASSERT_TRUE(cores);
    EXPECT_GT(cores->size(), 0u);
    const auto time = statistics.processCPUTime();
    ASSERT_TRUE(time);
    EXPECT_GT(*time, 0.0); // this process has run by now
}
