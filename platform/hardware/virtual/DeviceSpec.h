#pragma once
// How a test describes a virtual device to add or change.

#include <cstdint>
#include <string>

namespace corvane::hw::virt {

struct DeviceSpec {
    std::string uid;
    std::string name;
    std::uint32_t inputs = 0;
    std::uint32_t outputs = 0;
};

// Paced: a thread of the backend runs one period per period of wall-clock time.
// Manual: no thread; a test runs periods itself with runPeriods().
enum class ClockMode { Paced, Manual };

} // namespace corvane::hw::virt
