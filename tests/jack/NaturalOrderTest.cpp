#include "platform/hardware/jack/JackDeviceScan.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace corvane::hw {
namespace {

TEST(NaturalOrder, NumbersCompareByValueAndTextAsUsual) {
    const std::pair<const char*, const char*> ascending[] = {
        {"capture_2", "capture_10"},     {"capture_9", "capture_010"}, {"card2:out_1", "card10:out_1"},
        {"capture_1", "playback_1"},     {"capture", "capture_1"}};
    for (auto [less, more] : ascending) {
        EXPECT_TRUE(naturalLess(less, more)) << less << " < " << more;
        EXPECT_FALSE(naturalLess(more, less)) << more << " < " << less;
    }
    EXPECT_FALSE(naturalLess("capture_1", "capture_1"));

    std::vector<std::string> ports{"playback_10", "playback_1", "playback_2", "playback_11", "playback_3"};
    std::sort(ports.begin(), ports.end(), naturalLess);
    EXPECT_EQ(ports, (std::vector<std::string>{"playback_1", "playback_2", "playback_3", "playback_10", "playback_11"}));
}

} // namespace
} // namespace corvane::hw
