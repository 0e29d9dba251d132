// post() runs on the real-time thread; announcePending() on the notifier's own
// thread, and on the stopping one for what is left.
#include "platform/system/RealtimeNotifier.h"

namespace corvane {

RealtimeNotifier::RealtimeNotifier(std::function<void()> announce) : announce_(std::move(announce)) {
    thread_.start([this] { announcePending(); });
}

RealtimeNotifier::~RealtimeNotifier() { stop(); }

CORVANE_REALTIME
void RealtimeNotifier::post() noexcept {
    pending_.fetch_add(1, std::memory_order_relaxed);
    thread_.wake();
}

void RealtimeNotifier::stop() {
    thread_.stop();
    announcePending();
}

void RealtimeNotifier::announcePending() {
    for (auto count = pending_.exchange(0, std::memory_order_relaxed); count > 0; --count)
        announce_();
}

} // namespace corvane
