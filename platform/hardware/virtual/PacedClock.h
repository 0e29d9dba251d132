#pragma once
// The thread that drives a virtual device in real time: it wakes on absolute
// deadlines, one period apart, and runs one period each time. A period whose
// processing ends after the next period is due is an overload; the clock then
// skips to the next period boundary still ahead instead of running late for ever.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

namespace corvane::hw::virt {

class PacedClock {
public:
    PacedClock() = default;
    ~PacedClock();
    PacedClock(const PacedClock&) = delete;
    PacedClock& operator=(const PacedClock&) = delete;

    // Starts the thread. `period` and `overload` run on it (the real-time thread)
    // and must not allocate, lock or block. The thread asks for SCHED_FIFO and
    // runs at normal priority when that is not permitted.
    void start(std::uint32_t periodFrames, double sampleRate, std::function<void()> period,
               std::function<void()> overload);
    // Returns true once the thread has ended; neither function runs again.
    // Safe when not started. False when a period did not end within `patience`
    // (the period function hangs): the thread is then left running, and this
    // clock must never be destroyed.
    bool stop(std::chrono::milliseconds patience = std::chrono::seconds(2));

    bool running() const { return thread_.joinable(); }
    // Whether the thread got real-time priority (meaningful once it has run a period).
    bool realtime() const { return realtime_.load(std::memory_order_relaxed); }

private:
    void run(std::uint32_t periodFrames, double sampleRate);

    std::function<void()> period_;
    std::function<void()> overload_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> realtime_{false};
    std::atomic<bool> ended_{false};
    std::thread thread_;
};

} // namespace corvane::hw::virt
