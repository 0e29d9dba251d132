#pragma once
// Catches what the render path must not do. Every test program carries
// stand-ins (tests/support/realtime/) for the calls that allocate, wait or do
// I/O; each counts the calls made while the calling thread is inside an
// corvane::RealtimeScope, then hands on to the real function:
//   heap      malloc, calloc, realloc, free, the aligned variants, every form of
//             operator new and delete;
//   waiting   pthread mutex and read-write locks (plain, timed and clock
//             variants), condition-variable and semaphore waits, futex waits
//             (how libstdc++ waits in std::counting_semaphore::acquire and
//             std::atomic::wait), nanosleep, clock_nanosleep, usleep, sleep;
//   I/O       read, write, open, openat, poll, ppoll, with their 64-bit and
//             fortified names.
// Trying a lock, posting a semaphore and waking waiters are fine and not
// counted. Not seen at all: calls the C library makes inside itself (stdio's
// own reads and writes, fopen) and locks built on atomics alone until they
// really wait (QMutex uncontended). Counting is a relaxed atomic increment:
// the checker never allocates, locks or recurses.
//
// The same holds in both builds, with one difference: under the address
// sanitizer the allocator belongs to the sanitizer, and heap calls are counted
// through its hooks, which cannot tell the kinds apart ("allocation 1, release
// 1"). Its interceptors for read, write, poll, locks and semaphores still run:
// the stand-ins hand on to them.
//
// Whose calls: those a hosted plug-in's own code makes (corvane::PluginCodeScope)
// are reported apart and never fail a test; host callbacks the plug-in makes
// from there (corvane::HostCallbackScope) are the host's again.

#include <cstdint>
#include <string>

namespace corvane::test {

// For the test's own thread: make, read and drop it there. Render threads only
// bump the counters it reads.
class RealtimeChecker {
public:
    // Counts from now on.
    RealtimeChecker();
    RealtimeChecker(const RealtimeChecker&) = delete;
    RealtimeChecker& operator=(const RealtimeChecker&) = delete;

    // Forbidden calls the host made inside real-time scopes since construction,
    // host callbacks included: a test fails on these.
    std::uint64_t violations() const;
    // The part of violations() made in host callbacks from plug-in code.
    std::uint64_t hostCallbackViolations() const;
    // Forbidden calls made by hosted plug-ins' own code: theirs to answer for.
    std::uint64_t pluginCalls() const;

    // One line, e.g. "malloc 1, mutex lock 1 in host callbacks, read 1 (and 3
    // by plug-ins' own code)", or "none".
    std::string report() const;

    // Whether the C allocator itself is replaced (false under the sanitizer).
    static bool replacesMalloc();

private:
    static constexpr int kOwners = 3;
    static constexpr int kCalls = 19;
    std::uint64_t since(int owner, int call) const;
    std::uint64_t since(int owner) const; // every call

    std::uint64_t start_[kOwners][kCalls];
};

} // namespace corvane::test
