#pragma once
// Catches heap use on the render path. Linked into a test program, it replaces
// the allocator's entry points (malloc, calloc, realloc, free, the aligned
// variants and every form of operator new and delete) with versions that count
// each call made while the calling thread is inside an engine::RealtimeScope,
// then hand on to the C library. Counting is a relaxed atomic increment: the
// checker itself never allocates.
//
// Under the address sanitizer the allocator belongs to the sanitizer, and
// replacing malloc there would bypass it; the checker then counts through the
// sanitizer's allocation hooks instead, which see the same calls (new and
// delete included) but cannot tell their kinds apart.

#include <cstdint>
#include <string>

namespace corvane::test {

class RealtimeChecker {
public:
    // Counts from now on.
    RealtimeChecker();

    // Heap calls made inside real-time scopes since construction, not counting
    // those a hosted plug-in's own code made (engine::PluginCodeScope).
    std::uint64_t violations() const;
    // Heap calls made by hosted plug-ins' own processing: theirs to answer for.
    std::uint64_t pluginHeapCalls() const;
    // "malloc 1, operator delete 1", or "none". Call outside a real-time scope.
    std::string report() const;

    // Whether the C allocator itself is replaced (false under the sanitizer).
    static bool replacesMalloc();

private:
    static constexpr int kKinds = 9;
    std::uint64_t start_[kKinds];
    std::uint64_t pluginStart_ = 0;
};

} // namespace corvane::test
