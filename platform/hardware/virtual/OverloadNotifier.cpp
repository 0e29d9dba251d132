// post() runs on the real-time thread; run() on the notifier's own thread.
#include "platform/hardware/virtual/OverloadNotifier.h"

#include <cerrno>

namespace corvane::hw::virt {

OverloadNotifier::OverloadNotifier(std::function<void()> announce) : announce_(std::move(announce)) {
    sem_init(&wakeup_, 0, 0);
    thread_ = std::thread([this] { run(); });
}

OverloadNotifier::~OverloadNotifier() {
    stop();
    sem_destroy(&wakeup_);
}

void OverloadNotifier::post() noexcept {
    pending_.fetch_add(1, std::memory_order_relaxed);
    sem_post(&wakeup_);
}

void OverloadNotifier::stop() {
    if (thread_.joinable()) {
        stopping_.store(true);
        sem_post(&wakeup_);
        thread_.join();
    }
    announcePending();
}

void OverloadNotifier::run() {
    while (!stopping_.load()) {
        while (sem_wait(&wakeup_) != 0 && errno == EINTR) {
        }
        announcePending();
    }
}

void OverloadNotifier::announcePending() {
    for (auto count = pending_.exchange(0, std::memory_order_relaxed); count > 0; --count)
        announce_();
}

} // namespace corvane::hw::virt
