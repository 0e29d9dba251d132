#pragma once
// Wakes the main thread from a thread that may not allocate or lock: a JACK
// callback that must behave like a signal handler, a real signal handler, a
// real-time thread. signal() writes to an eventfd; the main loop notices it and
// calls the handler. Signals that arrive before the handler runs coalesce into
// one call, so the handler must look at its own state to see what happened.

#include <functional>
#include <memory>

class QSocketNotifier;

namespace corvane {

class MainThreadWakeup {
public:
    // Main thread; `handler` runs there.
    explicit MainThreadWakeup(std::function<void()> handler);
    ~MainThreadWakeup();
    MainThreadWakeup(const MainThreadWakeup&) = delete;
    MainThreadWakeup& operator=(const MainThreadWakeup&) = delete;

    // Any thread, async-signal-safe and real-time safe: one write() that never blocks.
    void signal() noexcept;

private:
    void drain();

    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> handler_;
};

} // namespace corvane
