#pragma once
// A thread that sleeps until woken, for work handed on by a thread that must
// not wait (a real-time one, a signal handler): wake() is one sem_post, which
// never blocks and is async-signal-safe. Nothing else wakes the thread. Wake-ups
// that pile up while it is busy make one pass, so a pass looks at its own
// state to see what there is to do.

#include "platform/system/RealtimeScope.h"

#include <atomic>
#include <functional>
#include <semaphore.h>
#include <thread>

namespace corvane {

class WakeableThread {
public:
    WakeableThread();
    ~WakeableThread(); // stops the thread
    WakeableThread(const WakeableThread&) = delete;
    WakeableThread& operator=(const WakeableThread&) = delete;

    // Starts the thread (stopping one already running); it runs `pass` after
    // each wake-up. Wake-ups from before the start are forgotten.
    void start(std::function<void()> pass);
    // Wakes the thread for a last pass and returns once it has ended. Safe
    // when not running.
    void stop();
    bool isRunning() const { return thread_.joinable(); }

    // Any thread.
    CORVANE_REALTIME void wake() noexcept { sem_post(&semaphore_); }

private:
    void run();

    sem_t semaphore_;
    std::function<void()> pass_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace corvane
