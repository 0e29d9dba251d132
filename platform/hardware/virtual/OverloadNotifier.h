#pragma once
// Announces overloads counted on the real-time thread from a thread of its own,
// because listeners allocate and lock and so must never run on the real-time one.
// The thread sleeps until an overload is posted: nothing wakes it otherwise.

#include <atomic>
#include <cstdint>
#include <functional>
#include <semaphore.h>
#include <thread>

namespace corvane::hw::virt {

class OverloadNotifier {
public:
    // Starts the thread; `announce` runs on it once per posted overload.
    explicit OverloadNotifier(std::function<void()> announce);
    ~OverloadNotifier();
    OverloadNotifier(const OverloadNotifier&) = delete;
    OverloadNotifier& operator=(const OverloadNotifier&) = delete;

    // Real-time thread: bumps a counter and posts a semaphore, which never blocks.
    void post() noexcept;

    // Ends the thread, then announces what is still pending on the calling
    // thread. Do not call it holding a lock that a listener takes.
    void stop();

private:
    void run();
    void announcePending();

    std::function<void()> announce_;
    std::atomic<std::uint64_t> pending_{0};
    std::atomic<bool> stopping_{false};
    sem_t wakeup_;
    std::thread thread_;
};

} // namespace corvane::hw::virt
