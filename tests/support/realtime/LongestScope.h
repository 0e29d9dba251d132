#pragma once
// Times every outermost corvane::RealtimeScope, on whatever thread, through the
// scope's watch hook, and keeps the longest for each checker that asks. The
// watch only reads the monotonic clock and raises atomics, so it is as real-time
// safe as the scope itself.

#include <chrono>

namespace corvane::test::realtime {

class LongestScope {
public:
    // Starts keeping a longest duration from now on, and installs the watch on
    // first use. For the checkers' thread; throws when too many are open.
    static int open();
    // Any thread.
    static std::chrono::nanoseconds longest(int slot) noexcept;
    // For the thread that opened the slot.
    static void close(int slot) noexcept;
};

} // namespace corvane::test::realtime
