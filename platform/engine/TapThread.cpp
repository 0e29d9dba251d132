// Tap thread (run), render thread (wake, reportOverrun), main thread (the rest).
#include "platform/engine/TapThread.h"

#include <cerrno>

namespace corvane::engine {

TapThread::TapThread() { sem_init(&wakeup_, 0, 0); }

TapThread::~TapThread() {
    stop();
    sem_destroy(&wakeup_);
}

void TapThread::start(std::vector<std::shared_ptr<Tap>> taps, std::function<void()> onOverrun) {
    stop();
    taps_ = std::move(taps);
    onOverrun_ = std::move(onOverrun);
    stopping_ = false;
    overrun_ = false;
    while (sem_trywait(&wakeup_) == 0) {
    }
    thread_ = std::thread([this] { run(); });
}

void TapThread::stop() {
    if (!thread_.joinable())
        return;
    stopping_ = true;
    sem_post(&wakeup_);
    thread_.join();
}

void TapThread::setTaps(std::vector<std::shared_ptr<Tap>> taps) {
    std::lock_guard lock(mutex_);
    taps_ = std::move(taps);
}

CORVANE_REALTIME
void TapThread::wake() noexcept {
    wakeups_.fetch_add(1, std::memory_order_relaxed);
    sem_post(&wakeup_);
}

CORVANE_REALTIME
void TapThread::reportOverrun() noexcept {
    overrun_.store(true, std::memory_order_release);
    sem_post(&wakeup_);
}

void TapThread::run() {
    while (!stopping_.load()) {
        // Sleeps until a chunk is complete, an overrun is reported or stop()
        // posts: nothing wakes this thread for less.
        while (sem_wait(&wakeup_) != 0 && errno == EINTR) {
        }
        // Several posts may have piled up; one pass serves them all.
        while (sem_trywait(&wakeup_) == 0) {
        }
        if (overrun_.exchange(false, std::memory_order_acq_rel) && onOverrun_)
            onOverrun_();
        std::lock_guard lock(mutex_);
        for (auto& tap : taps_)
            tap->deliver();
    }
}

} // namespace corvane::engine
