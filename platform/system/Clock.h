#pragma once
// Injectable time source. Everything that waits (settle waits, dropout flashes,
// recovery delays, the meter tick) asks a Clock, so tests drive time by hand.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace corvane {

class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::nanoseconds;
    using TimerId = std::uint64_t;

    virtual ~Clock() = default;

    // Monotonic "now". Any thread.
    virtual TimePoint now() const = 0;

    // Calls `fn` on the main thread once now() has reached `deadline`.
    // Main thread only. Returns an id for cancelTimer().
    virtual TimerId callAt(TimePoint deadline, std::function<void()> fn) = 0;

    // Forgets a pending timer; a timer that already fired is ignored. Main thread only.
    virtual void cancelTimer(TimerId id) = 0;
};

// The real monotonic clock; timers are precise Qt timers on the main thread.
class SystemClock final : public Clock {
public:
    TimePoint now() const override;
    TimerId callAt(TimePoint deadline, std::function<void()> fn) override;
    void cancelTimer(TimerId id) override;

    static SystemClock& instance();

private:
    struct Pending;
    std::map<TimerId, std::unique_ptr<Pending>> pending_;
    TimerId nextId_ = 1;
};

// A clock that moves only when told to. advance() fires due timers in deadline
// order, each at its own instant, so a loop that sleeps 20 ms repeatedly sees
// every step of a one-second advance. Main thread only.
class ManualClock final : public Clock {
public:
    ManualClock();

    TimePoint now() const override { return now_; }
    TimerId callAt(TimePoint deadline, std::function<void()> fn) override;
    void cancelTimer(TimerId id) override;

    void advance(Duration by);
    void advanceTo(TimePoint target);
    std::size_t pendingTimers() const { return timers_.size(); }
    std::optional<TimePoint> nextDeadline() const {
        if (timers_.empty())
            return std::nullopt;
        return timers_.begin()->first.first;
    }

private:
    TimePoint now_;
    // Ordered by (deadline, id): equal deadlines fire in the order they were set.
    std::map<std::pair<TimePoint, TimerId>, std::function<void()>> timers_;
    std::map<TimerId, TimePoint> deadlines_;
    TimerId nextId_ = 1;
};

} // namespace corvane
