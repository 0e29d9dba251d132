#include "platform/system/Futex.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace corvane {

CORVANE_REALTIME
void futexWake(FutexWord& word) noexcept {
    syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0);
}

CORVANE_REALTIME
FutexWait futexWaitUntil(FutexWord& word, std::uint32_t expected, const timespec& deadline) noexcept {
    // FUTEX_WAIT_BITSET takes an absolute timeout, on CLOCK_MONOTONIC unless
    // FUTEX_CLOCK_REALTIME is given: the deadline stays a deadline however
    // often the wait returns early.
    const long result = syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&word), FUTEX_WAIT_BITSET, expected,
                                &deadline, nullptr, FUTEX_BITSET_MATCH_ANY);
    if (result == 0)
        return FutexWait::Woken;
    if (errno == ETIMEDOUT)
        return FutexWait::TimedOut;
    if (errno == EAGAIN)
        return FutexWait::Changed;
    return FutexWait::Woken; // EINTR: the caller looks at the word and the clock again
}

CORVANE_REALTIME
timespec monotonicAfter(std::int64_t nanoseconds) noexcept {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::int64_t total = now.tv_nsec + nanoseconds % 1'000'000'000;
    now.tv_sec += static_cast<time_t>(nanoseconds / 1'000'000'000 + total / 1'000'000'000);
    now.tv_nsec = static_cast<long>(total % 1'000'000'000);
    return now;
}

} // namespace corvane
