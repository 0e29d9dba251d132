#pragma once
// Limits automatic restarts after configuration changes: at most maxAttempts
// within a sliding window, so a device that keeps reconfiguring itself ends up
// stopped instead of in a restart loop.

#include "platform/system/Clock.h"

#include <QList>
#include <chrono>

namespace corvane {

struct RecoveryThrottle {
    Clock::Duration window = std::chrono::seconds(60);
    int maxAttempts = 3;
    QList<Clock::TimePoint> attempts; // oldest first

    // Forgets attempts older than the window (one exactly window old still
    // counts); records `now` and returns true when fewer than maxAttempts remain.
    bool recordAttempt(Clock::TimePoint now);

    friend bool operator==(const RecoveryThrottle&, const RecoveryThrottle&) = default;
};

} // namespace corvane
