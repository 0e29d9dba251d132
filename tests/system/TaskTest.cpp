#include "platform/system/Task.h"
#include "tests/support/EventLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

Async<int> addLater(ManualClock& clock, int a, int b) {
    co_await sleepFor(clock, 10ms);
    co_return a + b;
}

} // namespace

TEST(Task, RunsSynchronouslyUntilItsFirstWaitAndResumesOnTheClock) {
    ManualClock clock;
    std::vector<std::string> trace;
    Task task = spawnWith([&]() -> Async<void> {
        trace.push_back("begin");
        const bool slept = co_await sleepFor(clock, 100ms);
        trace.push_back(slept ? "slept" : "cancelled");
        trace.push_back(std::to_string(co_await addLater(clock, 2, 3)));
    });
    EXPECT_EQ(trace, std::vector<std::string>{"begin"});
    clock.advance(99ms);
    EXPECT_EQ(trace.size(), 1u);
    clock.advance(1ms);
    EXPECT_EQ(trace, (std::vector<std::string>{"begin", "slept"}));
    EXPECT_FALSE(task.isDone());
    clock.advance(10ms);
    EXPECT_EQ(trace, (std::vector<std::string>{"begin", "slept", "5"}));
    EXPECT_TRUE(task.isDone());

    // One long advance fires each step of a loop at its own instant.
    const auto origin = clock.now();
    std::vector<long> stamps;
    Task loop = spawnWith([&]() -> Async<void> {
        for (int i = 0; i < 5; ++i) {
            co_await sleepFor(clock, 20ms);
            stamps.push_back(long((clock.now() - origin) / 1ms));
        }
    });
    clock.advance(1s);
    EXPECT_EQ(stamps, (std::vector<long>{20, 40, 60, 80, 100}));
    EXPECT_EQ(clock.now() - origin, 1s);
}

TEST(Task, CancellationWakesASleepThroughTheEventLoopAndIsVisibleToNestedCallsAndAnExceptionEndsTheTask) {
    ManualClock clock;
    std::vector<std::string> trace;
    Task task = spawnWith([&]() -> Async<void> {
        const bool slept = co_await sleepFor(clock, 1s);
        trace.push_back(slept ? "slept" : "cancelled");
        trace.push_back(co_await currentTaskCancelled() ? "sees-cancel" : "no-cancel");
        // A sleep in an already cancelled task does not wait at all.
        trace.push_back(co_await addLater(clock, 1, 1) == 2 ? "nested-ran" : "?");
    });
    task.cancel();
    EXPECT_TRUE(trace.empty()) << "cancel() must not resume the task inside the caller";
    test::drainEvents();
    EXPECT_EQ(trace, (std::vector<std::string>{"cancelled", "sees-cancel", "nested-ran"}));
    EXPECT_TRUE(task.isDone());
    EXPECT_EQ(clock.pendingTimers(), 0u);

    // An exception is contained, and its task still ends.
    const Task throwing = spawnWith([]() -> Async<void> {
        throw std::runtime_error("boom");
        co_return;
    });
    EXPECT_TRUE(throwing.isDone());
}

TEST(Task, JoinWaitsForAnotherTaskAndDetachedWorkReturnsOnTheMainThread) {
    ManualClock clock;
    std::atomic<bool> ranOffMain{false};
    const auto mainId = std::this_thread::get_id();
    Task first = spawnWith([&]() -> Async<void> { co_await sleepFor(clock, 50ms); });
    std::optional<int> result;
    bool resumedOnMain = false;
    Task second = spawnWith([&]() -> Async<void> {
        co_await first.join();
        result = co_await runDetached([&] {
            ranOffMain = std::this_thread::get_id() != mainId;
            return 42;
        });
        resumedOnMain = std::this_thread::get_id() == mainId;
    });
    clock.advance(49ms);
    EXPECT_FALSE(second.isDone());
    clock.advance(1ms);
    ASSERT_TRUE(test::waitFor([&] { return second.isDone(); }));
    EXPECT_EQ(result, 42);
    EXPECT_TRUE(ranOffMain);
    EXPECT_TRUE(resumedOnMain);
}

TEST(Task, CancellingADetachedWaitResumesWithoutAValueAndDropsTheLateResult) {
    std::atomic<bool> release{false};
    std::optional<int> result = 7;
    Task task = spawnWith([&]() -> Async<void> {
        result = co_await runDetached([&] {
            while (!release)
                std::this_thread::sleep_for(1ms);
            return 1;
        });
    });
    task.cancel();
    ASSERT_TRUE(test::waitFor([&] { return task.isDone(); }));
    EXPECT_EQ(result, std::nullopt);
    release = true;
    std::this_thread::sleep_for(20ms);
    test::drainEvents();
    EXPECT_EQ(result, std::nullopt);
}
