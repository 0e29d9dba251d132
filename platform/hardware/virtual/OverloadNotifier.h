#pragma once
// Announces overloads counted on the real-time thread from a thread of its own,
// because listeners allocate and lock and so must never run on the real-time one.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace corvane::hw::virt {

class OverloadNotifier {
public:
    // Starts the thread; `announce` runs on it once per posted overload.
    explicit OverloadNotifier(std::function<void()> announce);
    ~OverloadNotifier();
    OverloadNotifier(const OverloadNotifier&) = delete;
    OverloadNotifier& operator=(const OverloadNotifier&) = delete;

    // Real-time thread: only bumps a counter.
    void post() noexcept { pending_.fetch_add(1, std::memory_order_relaxed); }

    // Ends the thread, then announces what is still pending on the calling
    // thread. Do not call it holding a lock that a listener takes.
    void stop();

private:
    void run();
    void announcePending();

    std::function<void()> announce_;
    std::atomic<std::uint64_t> pending_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace corvane::hw::virt
