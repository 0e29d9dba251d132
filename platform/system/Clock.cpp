#include "platform/system/Clock.h"

#include <QTimer>

namespace corvane {

struct SystemClock::Pending {
    QTimer timer;
};

Clock::TimePoint SystemClock::now() const { return std::chrono::steady_clock::now(); }

Clock::TimerId SystemClock::callAt(TimePoint deadline, std::function<void()> fn) {
    const TimerId id = nextId_++;
    auto pending = std::make_unique<Pending>();
    pending->timer.setSingleShot(true);
    pending->timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&pending->timer, &QTimer::timeout, [this, id, fn = std::move(fn)] {
        // Erase first: fn may schedule or cancel other timers.
        auto node = pending_.extract(id);
        fn();
        (void)node;
    });
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(deadline - now());
    pending->timer.start(std::max<std::chrono::milliseconds::rep>(0, remaining.count()));
    pending_.emplace(id, std::move(pending));
    return id;
}

void SystemClock::cancelTimer(TimerId id) { pending_.erase(id); }

SystemClock& SystemClock::instance() {
    static SystemClock clock;
    return clock;
}

ManualClock::ManualClock() : now_(TimePoint{} + std::chrono::hours(1)) {}

Clock::TimerId ManualClock::callAt(TimePoint deadline, std::function<void()> fn) {
    const TimerId id = nextId_++;
    timers_.emplace(std::make_pair(deadline, id), std::move(fn));
    deadlines_.emplace(id, deadline);
    return id;
}

void ManualClock::cancelTimer(TimerId id) {
    auto it = deadlines_.find(id);
    if (it == deadlines_.end())
        return;
    timers_.erase({it->second, id});
    deadlines_.erase(it);
}

void ManualClock::advance(Duration by) { advanceTo(now_ + by); }

void ManualClock::advanceTo(TimePoint target) {
    while (!timers_.empty() && timers_.begin()->first.first <= target) {
        auto node = timers_.extract(timers_.begin());
        deadlines_.erase(node.key().second);
        if (node.key().first > now_)
            now_ = node.key().first;
        node.mapped()();
    }
    if (target > now_)
        now_ = target;
}

} // namespace corvane
