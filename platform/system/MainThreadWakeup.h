#pragma once
// Wakes the main thread from a thread that may not allocate or lock: a JACK
// callback that must behave like a signal handler, a real signal handler, a
// real-time thread. signal() writes to an eventfd; the main loop notices it and
// calls the handler. Signals that arrive before the handler runs coalesce into
// one call, so the handler must look at its own state to see what happened.
//
// The eventfd is a WakeupSignal of its own, shared, so that a thread that may
// signal after the receiving end is gone (a callback of a client we had to
// leave behind) can be handed something that outlives it.

#include <functional>
#include <memory>

class QSocketNotifier;

namespace corvane {

class WakeupSignal {
public:
    WakeupSignal();
    ~WakeupSignal();
    WakeupSignal(const WakeupSignal&) = delete;
    WakeupSignal& operator=(const WakeupSignal&) = delete;

    // Any thread, async-signal-safe and real-time safe: one write() that never blocks.
    void signal() noexcept;
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

class MainThreadWakeup {
public:
    // Main thread; `handler` runs there.
    explicit MainThreadWakeup(std::function<void()> handler);
    ~MainThreadWakeup();
    MainThreadWakeup(const MainThreadWakeup&) = delete;
    MainThreadWakeup& operator=(const MainThreadWakeup&) = delete;

    void signal() noexcept { signal_->signal(); }
    // What a thread that may outlive this object should hold to wake it.
    const std::shared_ptr<WakeupSignal>& source() const { return signal_; }

private:
    void drain();

    std::shared_ptr<WakeupSignal> signal_ = std::make_shared<WakeupSignal>();
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> handler_;
};

} // namespace corvane
