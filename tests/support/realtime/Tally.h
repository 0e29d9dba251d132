#pragma once
// What the interposed calls add up to: one counter per kind of forbidden (or
// allowed but watched) call and per owner of the code that made it, bumped
// only on a thread inside an corvane::RealtimeScope. Any thread bumps them;
// RealtimeChecker reads them. Noting a call is a few thread-local reads and a
// relaxed atomic increment: it never allocates, locks or calls anything, so
// every interposer may use it.

#include "platform/system/RealtimeScope.h"

#include <atomic>
#include <cstdint>

namespace corvane::test::realtime {

enum Call : int {
    // Heap, replaced in the normal build.
    Malloc, Calloc, Realloc, Free, AlignedAlloc, OperatorNew, OperatorDelete,
    // Heap, seen through the address sanitizer's hooks, which cannot tell the
    // kinds apart.
    Allocation, Release,
    // Waiting.
    MutexLock, ReadWriteLock, ConditionWait, SemaphoreWait, FutexWait, Sleep,
    // File and socket I/O.
    Read, Write, Open, Poll,
    // Any other call through syscall().
    SystemCall,
    ForbiddenCount,
    // Allowed, and counted only to be reported: the two calls with which the
    // render thread hands periods to plug-in host processes and collects their
    // answers (waking a futex word shared with the other process, and waiting
    // on it until an absolute CLOCK_MONOTONIC deadline).
    SharedFutexWake = ForbiddenCount, SharedFutexDeadlineWait,
    CallCount
};

// In the order of Call, grouped as there.
inline constexpr const char* callNames[CallCount] = {
    "malloc", "calloc", "realloc", "free", "aligned alloc", "operator new", "operator delete",
    "allocation", "release",
    "mutex lock", "read-write lock", "condition wait", "semaphore wait", "futex wait", "sleep",
    "read", "write", "open", "poll",
    "system call",
    "shared futex wake", "shared futex wait until a deadline",
};

// Host code proper; host code a plug-in called back into; the plug-in's own.
enum Owner : int { Host, HostCallback, Plugin, OwnerCount };

inline std::atomic<std::uint64_t> tally[OwnerCount][CallCount];

inline void note(Call call) noexcept {
    using corvane::CodeOwner;
    if (!corvane::inRealtimeScope())
        return;
    const CodeOwner owner = corvane::codeOwner;
    const Owner who = owner == CodeOwner::Plugin         ? Plugin
                      : owner == CodeOwner::HostCallback ? HostCallback
                                                         : Host;
    tally[who][call].fetch_add(1, std::memory_order_relaxed);
}

} // namespace corvane::test::realtime
