// Tap thread (serve), render thread (wake, reportOverrun), main thread (the rest).
#include "platform/engine/TapThread.h"

namespace corvane::engine {

TapThread::TapThread() = default;

TapThread::~TapThread() { stop(); }

void TapThread::start(std::vector<std::shared_ptr<Tap>> taps, std::function<void()> onOverrun) {
    stop();
    taps_ = std::move(taps);
    onOverrun_ = std::move(onOverrun);
    overrun_ = false;
    thread_.start([this] { serve(); });
}

void TapThread::stop() { thread_.stop(); }

void TapThread::setTaps(std::vector<std::shared_ptr<Tap>> taps) {
    std::lock_guard lock(mutex_);
    taps_ = std::move(taps);
}

CORVANE_REALTIME
void TapThread::wake() noexcept {
    if (++chunksSinceWake_ < chunksPerWake_.load(std::memory_order_relaxed))
        return;
    chunksSinceWake_ = 0;
    wakeups_.fetch_add(1, std::memory_order_relaxed);
    thread_.wake();
}

void TapThread::deliverNow() {
    // The lock keeps the tap thread out meanwhile: each ring has one reader at a time.
    std::lock_guard lock(mutex_);
    for (auto& tap : taps_)
        tap->deliver();
}

CORVANE_REALTIME
void TapThread::reportOverrun() noexcept {
    overrun_.store(true, std::memory_order_release);
    thread_.wake();
}

// Runs once a chunk is complete, an overrun is reported or stop() wakes the
// thread: nothing wakes it for less.
void TapThread::serve() {
    if (overrun_.exchange(false, std::memory_order_acq_rel) && onOverrun_)
        onOverrun_();
    std::lock_guard lock(mutex_);
    for (auto& tap : taps_)
        tap->deliver();
}

} // namespace corvane::engine
