#pragma once
// Runs main-thread flows that mix manual-clock waits with real background work
// (hardware queries on the pool) until a condition holds.

#include "platform/system/Clock.h"

#include <functional>

namespace corvane::test {

// Alternates: run posted events; wait while pool jobs are in flight; otherwise
// move the clock to its next timer. Returns false if the condition still fails
// when nothing is left to run or `limit` of simulated time has passed.
bool runUntil(ManualClock& clock, const std::function<bool()>& condition,
              Clock::Duration limit = std::chrono::seconds(600));

// The same with no condition: runs until nothing is left to do within `span`
// of simulated time, then leaves the clock at now + span.
void runFor(ManualClock& clock, Clock::Duration span);

// Like runUntil, but never waits for pool jobs to end, for flows a test holds
// up on purpose (a gate, a plug-in that takes its time, one that hangs): runs
// posted events and moves the clock from timer to timer with a short real pause
// between, until `condition` holds or `timeout` of real time has passed.
bool runBeside(ManualClock& clock, const std::function<bool()>& condition,
               std::chrono::milliseconds timeout = std::chrono::seconds(30));

} // namespace corvane::test
