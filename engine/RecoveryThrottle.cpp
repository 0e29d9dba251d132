#include "engine/RecoveryThrottle.h"

namespace corvane {

bool RecoveryThrottle::recordAttempt(Clock::TimePoint now) {
    attempts.removeIf([&](Clock::TimePoint t) { return now - t > window; });
    if (attempts.size() >= maxAttempts)
        return false;
    attempts.append(now);
    return true;
}

} // namespace corvane
