#include "platform/hardware/jack/JackDeviceScan.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace corvane::hw {
namespace {

TEST(NaturalOrder, NumbersCompareByValue) {
    EXPECT_TRUE(naturalLess("capture_2", "capture_10"));
    EXPECT_FALSE(naturalLess("capture_10", "capture_2"));
    EXPECT_TRUE(naturalLess("capture_9", "capture_010"));
    EXPECT_TRUE(naturalLess("card2:out_1", "card10:out_1"));
}

TEST(NaturalOrder, TextAndPrefixesOrderAsUsual) {
    EXPECT_TRUE(naturalLess("capture_1", "playback_1"));
    EXPECT_TRUE(naturalLess("capture", "capture_1"));
    EXPECT_FALSE(naturalLess("capture_1", "capture"));
    EXPECT_FALSE(naturalLess("capture_1", "capture_1"));
}

TEST(NaturalOrder, SortsAFullCard) {
    std::vector<std::string> ports{"playback_10", "playback_1", "playback_2", "playback_11", "playback_3"};
    std::sort(ports.begin(), ports.end(), naturalLess);
    EXPECT_EQ(ports, (std::vector<std::string>{"playback_1", "playback_2", "playback_3", "playback_10", "playback_11"}));
}

} // namespace
} // namespace corvane::hw
