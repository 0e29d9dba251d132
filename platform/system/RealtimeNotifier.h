#pragma once
// Announces events counted on a real-time thread (an overload, a lost device)
// from a thread of its own, because listeners allocate and lock and so must
// never run on the real-time one. The thread sleeps until an event is posted.

#include "platform/system/RealtimeScope.h"
#include "platform/system/WakeableThread.h"

#include <atomic>
#include <cstdint>
#include <functional>

namespace corvane {

class RealtimeNotifier {
public:
    // Starts the thread; `announce` runs on it once per posted event.
    explicit RealtimeNotifier(std::function<void()> announce);
    ~RealtimeNotifier();
    RealtimeNotifier(const RealtimeNotifier&) = delete;
    RealtimeNotifier& operator=(const RealtimeNotifier&) = delete;

    // Real-time thread: bumps a counter and wakes the thread, which never blocks.
    CORVANE_REALTIME void post() noexcept;

    // Ends the thread, then announces what is still pending on the calling
    // thread. Do not call it holding a lock that a listener takes.
    void stop();

private:
    void announcePending();

    std::function<void()> announce_;
    std::atomic<std::uint64_t> pending_{0};
    WakeableThread thread_;
};

} // namespace corvane
