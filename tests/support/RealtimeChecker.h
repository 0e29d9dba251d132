#pragma once
// Catches what the render path must not do. Every test program carries
// stand-ins (tests/support/realtime/, each file says which calls it takes) for
// the heap, locks and waits, sleeps, and file and socket I/O. Each counts the
// calls made while the calling thread is inside a corvane::RealtimeScope, then
// hands on to the real function. Counting is a relaxed atomic increment: the
// checker never allocates, locks or recurses. Trying a lock, posting a
// semaphore and waking waiters are fine and not counted; calls the C library
// makes inside itself (stdio's own reads and writes) are not seen. System
// calls made through syscall() are forbidden too, but for two futex calls
// (a wake of a shared word, and a wait on one until a CLOCK_MONOTONIC
// deadline) with which the render thread may hand work to other processes and
// wait for it: those are counted apart and allowed. Under the
// address sanitizer heap calls are counted through its hooks, which cannot
// tell the kinds apart ("allocation 1, release 1").
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
    // The allowed futex wakes and deadline waits, whoever made them.
    std::uint64_t allowedCalls() const;

    // One line, e.g. "malloc 1, mutex lock 1 in host callbacks, read 1 (and 3
    // by plug-ins' own code)", or "none", then what was allowed, if anything:
    // "; allowed: shared futex wake 2".
    std::string report() const;

    // Whether the C allocator itself is replaced (false under the sanitizer).
    static bool replacesMalloc();

private:
    static constexpr int kOwners = 3;
    static constexpr int kCalls = 22;
    static constexpr int kForbidden = 20; // calls below this are forbidden
    std::uint64_t since(int owner, int call) const;
    std::uint64_t since(int owner) const; // every forbidden call
    std::uint64_t allowed(int call) const; // by every owner

    std::uint64_t start_[kOwners][kCalls];
};

} // namespace corvane::test
