// libjack cancels its threads asynchronously; a callback it is running must
// finish its body (locks released, counters restored) before the thread ends.
#include "platform/hardware/jack/CancellationShield.h"

#include <pthread.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <mutex>

namespace corvane::hw {
namespace {

struct CallbackRun {
    std::mutex mutex;
    int pipe[2] = {-1, -1};
    bool bodyFinished = false;
    bool callbackReturned = false;
};

// Shaped like one of our JACK callbacks: the cancellation arrives mid-body, and
// the body goes through a lock and a cancellation point (write).
void callback(CallbackRun* run) {
    shieldedFromCancellation([run] {
        ::pthread_cancel(::pthread_self());
        const std::lock_guard lock(run->mutex);
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write(run->pipe[1], &byte, 1);
        run->bodyFinished = true;
    });
    run->callbackReturned = true;
}

extern "C" void* libjackLikeThread(void* argument) {
    ::pthread_setcanceltype(PTHREAD_CANCEL_ASYNCHRONOUS, nullptr);
    callback(static_cast<CallbackRun*>(argument));
    return nullptr;
}

TEST(CancellationShield, ACallbackCancelledMidwayFinishesItsBodyAndTheThreadEndsAsItReturns) {
    CallbackRun run;
    ASSERT_EQ(::pipe(run.pipe), 0);
    pthread_t thread{};
    ASSERT_EQ(::pthread_create(&thread, nullptr, &libjackLikeThread, &run), 0);
    ::pthread_join(thread, nullptr);

    EXPECT_TRUE(run.bodyFinished);
    EXPECT_FALSE(run.callbackReturned) << "the cancellation was lost, not deferred";
    EXPECT_TRUE(run.mutex.try_lock()) << "the callback's lock was never released";
    run.mutex.unlock();
    ::close(run.pipe[0]);
    ::close(run.pipe[1]);
}

} // namespace
} // namespace corvane::hw
