#pragma once
// Counts the device's real I/O deadline misses while the engine runs, and
// raises a short-lived flag for "a dropout just now": each one keeps the flag
// up until kFlash after it.
//
// Main thread only. The flag's fall is a timer on the injected clock that the
// monitor owns: going away cancels it, so nothing waits on past its owner.

#include "platform/hardware/AudioHardware.h"
#include "platform/system/Clock.h"

#include <QObject>
#include <chrono>
#include <optional>

namespace corvane {

class DropoutMonitor : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kFlash{1500};

    // `hardware` and `clock` must outlive the monitor.
    DropoutMonitor(hw::AudioHardware& hardware, Clock& clock, QObject* parent = nullptr);
    ~DropoutMonitor() override;

    int count() const { return count_; }
    bool isActive() const { return active_; }

    // Hears `device`'s overloads from now on (and no other device's), from a
    // count of zero.
    void watch(hw::ObjectId device);
    // Stops listening; the count stays for whoever looks after the run.
    void unwatch();
    bool isWatching() const { return listener_.has_value(); }

    void noteDropout();
    // The user's reset: no count, no flag, and a pending fall forgotten.
    void reset();

signals:
    void countChanged();
    void activeChanged();
    // After the count has gone up: the manager names the likeliest culprit.
    void droppedOut();

private:
    void setCount(int count);
    void setActive(bool active);
    void cancelFall();

    hw::AudioHardware& hardware_;
    Clock& clock_;
    int count_ = 0;
    bool active_ = false;
    std::optional<Clock::TimerId> fall_;
    struct Listener {
        hw::ObjectId device;
        hw::AudioHardware::ListenerId id;
    };
    std::optional<Listener> listener_;
};

} // namespace corvane
