#include "platform/hardware/virtual/OverloadNotifier.h"

#include <chrono>

namespace corvane::hw::virt {

namespace {
// The real-time thread cannot wake anyone without risking a block, so this
// thread looks for news a few times per (typical) period instead.
constexpr auto kPollInterval = std::chrono::milliseconds(2);
} // namespace

OverloadNotifier::OverloadNotifier(std::function<void()> announce)
    : announce_(std::move(announce)), thread_([this] { run(); }) {}

OverloadNotifier::~OverloadNotifier() { stop(); }

void OverloadNotifier::stop() {
    if (thread_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    announcePending();
}

void OverloadNotifier::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, kPollInterval, [this] { return stopping_; });
        lock.unlock();
        announcePending();
        lock.lock();
    }
}

void OverloadNotifier::announcePending() {
    for (auto count = pending_.exchange(0, std::memory_order_relaxed); count > 0; --count)
        announce_();
}

} // namespace corvane::hw::virt
