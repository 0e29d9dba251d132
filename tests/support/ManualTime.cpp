#include "tests/support/ManualTime.h"

#include "platform/system/MainThread.h"
#include "tests/support/EventLoop.h"

#include <QThread>
#include <QThreadPool>

namespace corvane::test {

namespace {
// Runs events until no pool job is in flight and the queue is empty.
void settle() {
    for (;;) {
        drainEvents();
        if (backgroundPool().activeThreadCount() == 0) {
            drainEvents();
            if (backgroundPool().activeThreadCount() == 0)
                return;
        }
        QThread::usleep(200);
    }
}
} // namespace

bool runUntil(ManualClock& clock, const std::function<bool()>& condition, Clock::Duration limit) {
    const auto end = clock.now() + limit;
    for (;;) {
        settle();
        if (condition())
            return true;
        auto next = clock.nextDeadline();
        if (!next || *next > end)
            return condition();
        clock.advanceTo(*next);
    }
}

void runFor(ManualClock& clock, Clock::Duration span) {
    const auto end = clock.now() + span;
    runUntil(clock, [] { return false; }, span);
    clock.advanceTo(end);
    settle();
}

bool runBeside(ManualClock& clock, const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto giveUp = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < giveUp) {
        drainEvents();
        if (condition())
            return true;
        if (auto next = clock.nextDeadline())
            clock.advanceTo(*next);
        QThread::usleep(1000);
    }
    drainEvents();
    return condition();
}

} // namespace corvane::test
