#pragma once
// The two futex operations a real-time thread may make: wake the waiters on a
// word, and wait on a word until an absolute deadline. The words may live in
// memory that two processes map, so neither uses the process-private variant;
// waiting on a word in such memory must never block without a deadline, since
// the process on the other side may be gone.

#include "platform/system/RealtimeScope.h"

#include <time.h>

#include <atomic>
#include <cstdint>

namespace corvane {

using FutexWord = std::atomic<std::uint32_t>;
static_assert(FutexWord::is_always_lock_free && sizeof(FutexWord) == sizeof(std::uint32_t),
              "a futex word must be a plain 32-bit word another process can read");

// Any thread. Wakes every thread of any process waiting on `word`.
CORVANE_REALTIME
void futexWake(FutexWord& word) noexcept;

enum class FutexWait { Woken, Changed, TimedOut };

// Any thread. Sleeps while `word` holds `expected`, until a wake or until
// `deadline` on CLOCK_MONOTONIC has passed. Woken may be spurious (the
// caller reads the word again); Changed: the word no longer held `expected`.
CORVANE_REALTIME
FutexWait futexWaitUntil(FutexWord& word, std::uint32_t expected, const timespec& deadline) noexcept;

// Any thread: CLOCK_MONOTONIC now plus `nanoseconds` (read through the vDSO,
// no system call).
CORVANE_REALTIME
timespec monotonicAfter(std::int64_t nanoseconds) noexcept;

} // namespace corvane
