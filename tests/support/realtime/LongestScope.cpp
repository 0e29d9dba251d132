#include "tests/support/realtime/LongestScope.h"

#include "platform/system/RealtimeScope.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <stdexcept>

namespace corvane::test::realtime {

namespace {

// One per checker alive at once (tests seldom hold more than one): opened and
// closed by the checkers' thread, raised by any thread leaving a scope.
struct Slot {
    std::atomic<bool> open{false};
    std::atomic<std::int64_t> longest{0}; // nanoseconds
};
constexpr int kSlots = 16;
constinit Slot slots[kSlots];

// When the calling thread entered its outermost scope; 0 while it is outside
// one, or entered before the watch was installed.
constinit thread_local std::int64_t enteredAt = 0;

std::int64_t now() noexcept {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

void watch(bool entering) noexcept {
    const std::int64_t at = now();
    if (entering) {
        enteredAt = at;
        return;
    }
    if (enteredAt == 0)
        return;
    const std::int64_t lasted = at - enteredAt;
    enteredAt = 0;
    for (Slot& slot : slots) {
        if (!slot.open.load(std::memory_order_relaxed))
            continue;
        std::int64_t longest = slot.longest.load(std::memory_order_relaxed);
        while (lasted > longest &&
               !slot.longest.compare_exchange_weak(longest, lasted, std::memory_order_relaxed)) {
        }
    }
}

} // namespace

int LongestScope::open() {
    corvane::realtimeScopeWatch.store(&watch, std::memory_order_relaxed);
    for (int k = 0; k < kSlots; ++k) {
        bool wasOpen = false;
        if (slots[k].open.compare_exchange_strong(wasOpen, true)) {
            slots[k].longest.store(0, std::memory_order_relaxed);
            return k;
        }
    }
    throw std::logic_error("more real-time checkers at once than LongestScope keeps slots for");
}

std::chrono::nanoseconds LongestScope::longest(int slot) noexcept {
    return std::chrono::nanoseconds(slots[slot].longest.load(std::memory_order_relaxed));
}

void LongestScope::close(int slot) noexcept { slots[slot].open.store(false); }

} // namespace corvane::test::realtime
