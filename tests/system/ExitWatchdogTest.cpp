#include "platform/system/ExitWatchdog.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

// What a watchdog did, with a short grace and an exit that only notes the status.
struct Outcome {
    std::atomic<int> lastWords{0};
    std::atomic<int> status{0};
    std::chrono::steady_clock::time_point exitedAt;

    ExitWatchdog::Options options() {
        return {50ms, 50ms, [this](int signal) { lastWords = signal; },
                [this](int code) {
                    exitedAt = std::chrono::steady_clock::now();
                    status = code;
                }};
    }
    bool waitForExit() {
        for (int i = 0; i < 400 && status == 0; ++i)
            std::this_thread::sleep_for(5ms);
        return status != 0;
    }
};

} // namespace

TEST(ExitWatchdog, EndsTheProcessOnlyWhenTheOrderlyEndIsLate) {
    {
        // The main thread never answers: last words, then 128 + the signal.
        Outcome outcome;
        ExitWatchdog watchdog(outcome.options());
        const auto triggered = std::chrono::steady_clock::now();
        watchdog.trigger(SIGTERM);
        watchdog.trigger(SIGINT);
        ASSERT_TRUE(outcome.waitForExit());
        EXPECT_EQ(outcome.status, 128 + SIGTERM);
        EXPECT_EQ(outcome.lastWords, SIGTERM);
        EXPECT_GE(outcome.exitedAt - triggered, 50ms);
        EXPECT_FALSE(watchdog.beginOrderlyEnd()) << "the end began after the last words";
    }
    {
        // It began its end in time, but that end hangs: no last words of the
        // watchdog's (the main thread writes its own), still the status.
        Outcome outcome;
        ExitWatchdog watchdog(outcome.options());
        const auto triggered = std::chrono::steady_clock::now();
        watchdog.trigger(SIGHUP);
        EXPECT_TRUE(watchdog.beginOrderlyEnd());
        ASSERT_TRUE(outcome.waitForExit());
        EXPECT_EQ(outcome.status, 128 + SIGHUP);
        EXPECT_EQ(outcome.lastWords, 0);
        EXPECT_GE(outcome.exitedAt - triggered, 100ms);
    }
    {
        // An orderly end that finished, and a run without a signal: nothing.
        Outcome outcome;
        {
            ExitWatchdog watchdog(outcome.options());
            watchdog.trigger(SIGINT);
            EXPECT_TRUE(watchdog.beginOrderlyEnd());
        }
        { ExitWatchdog quiet(outcome.options()); }
        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.lastWords, 0);
    }
}
