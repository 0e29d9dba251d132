#pragma once
// Where the load monitor's figures come from: this process's processor time and
// the cumulative tick counts of every logical core. An interface, so the
// monitor can run on scripted figures in tests.

#include <cstdint>
#include <optional>
#include <vector>

namespace corvane {

// One core's cumulative ticks in four states. The counts are kept modulo 2^32:
// only differences between two readings mean anything, and those come out
// right across a wrap when taken in unsigned 32-bit arithmetic.
struct CoreTicks {
    std::uint32_t user = 0;
    std::uint32_t system = 0;
    std::uint32_t idle = 0;
    std::uint32_t nice = 0;

    friend bool operator==(const CoreTicks&, const CoreTicks&) = default;
};

class ProcessorStatistics {
public:
    virtual ~ProcessorStatistics() = default;

    // User plus system time this process has used so far, in seconds; none
    // when it cannot be read. Main thread; cheap, never blocks.
    virtual std::optional<double> processCPUTime() = 0;

    // One entry per logical core, in the kernel's order; none when the
    // figures cannot be read. Main thread; cheap, never blocks.
    virtual std::optional<std::vector<CoreTicks>> coreTicks() = 0;
};

} // namespace corvane
