#include "tests/support/RealtimeChecker.h"
#include "platform/engine/RealtimeScope.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

using corvane::engine::RealtimeScope;
using corvane::test::RealtimeChecker;

namespace {

// Keeps the optimiser from removing an allocation it can see is unused.
void escape(void* pointer) {
    asm volatile("" : : "g"(pointer) : "memory");
}

} // namespace

TEST(RealtimeChecker, CountsEachForbiddenCallInsideARealtimeScope) {
    struct Wide {
        alignas(128) float x[32];
    };
    // The call, and its report in the normal build.
    // clang-format off
    const std::pair<void (*)(), const char*> cases[] = {
        {[] { void* p = std::malloc(32); escape(p); std::free(p); }, "malloc 1, free 1"},
        {[] { void* p = std::calloc(4, 8); escape(p); std::free(p); }, "calloc 1, free 1"},
        {[] { void* p = std::malloc(8); escape(p); p = std::realloc(p, 4096); escape(p); std::free(p); },
         "malloc 1, realloc 1, free 1"},
        {[] { void* p = nullptr; if (posix_memalign(&p, 64, 64) == 0) { escape(p); std::free(p); } },
         "free 1, aligned alloc 1"},
        {[] { void* p = std::aligned_alloc(64, 128); escape(p); std::free(p); }, "free 1, aligned alloc 1"},
        {[] { auto* p = new int(3); escape(p); delete p; }, "operator new 1, operator delete 1"},
        {[] { auto* p = new float[8]; escape(p); delete[] p; }, "operator new 1, operator delete 1"},
        {[] { auto* p = new Wide; escape(p); delete p; }, "operator new 1, operator delete 1"},
        {[] { auto* p = new (std::nothrow) int; escape(p); delete p; }, "operator new 1, operator delete 1"},
        {[] { std::vector<int> v; v.push_back(1); escape(v.data()); }, "operator new 1, operator delete 1"},
    };
    // clang-format on
    for (const auto& [call, reported] : cases) {
        RealtimeChecker checker;
        {
            RealtimeScope scope;
            call();
        }
        // Each allocates and releases once; realloc adds its own call, which
        // the sanitizer's hooks see as an allocation and a release.
        const bool realloc = std::string(reported).find("realloc") != std::string::npos;
        const std::uint64_t expected = !realloc ? 2u : RealtimeChecker::replacesMalloc() ? 3u : 4u;
        EXPECT_EQ(checker.violations(), expected) << reported << ": " << checker.report();
        if (RealtimeChecker::replacesMalloc()) {
            EXPECT_EQ(checker.report(), reported);
        }
    }
}

TEST(RealtimeChecker, IgnoresHeapUseOutsideScopesAndOnOtherThreadsAndNestedScopesKeepTheOuter) {
    RealtimeChecker checker;
    auto outside = std::make_unique<std::string>(100, 'x');
    escape(outside.get());
    std::atomic<int> stage{0};
    std::thread other([&] {
        while (stage.load() != 1) {
        }
        auto p = std::make_unique<std::string>(100, 'y');
        escape(p.get());
        p.reset();
        stage = 2;
    });
    bool wasRealtime = false;
    {
        RealtimeScope scope;
        {
            RealtimeScope nested; // ending it must not end the outer scope
        }
        wasRealtime = corvane::engine::inRealtimeScope();
        stage = 1;
        while (stage.load() != 2) {
        }
    }
    other.join();
    EXPECT_TRUE(wasRealtime);
    EXPECT_FALSE(corvane::engine::inRealtimeScope());
    EXPECT_EQ(checker.violations(), 0u) << checker.report();
}
