#pragma once
// Driving the main thread's event loop from tests.

#include <chrono>
#include <functional>

namespace corvane::test {

// Runs everything already posted to the main thread, and whatever that posts in
// turn, until the queue is empty.
void drainEvents();

// Processes events until `condition` holds or `timeout` of real time passes.
// For results that come from real background threads (pool jobs, JACK).
bool waitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

} // namespace corvane::test
