// run() is the real-time I/O thread: after its start-up it only sleeps until the
// next deadline and calls the period function.
#include "platform/hardware/virtual/PacedClock.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <pthread.h>
#include <sched.h>
#include <thread>
#include <time.h>

namespace corvane::hw::virt {

namespace {

constexpr std::int64_t kNanosPerSecond = 1'000'000'000;
// Above ordinary threads and well below the top, where the kernel's own
// real-time threads live.
constexpr int kRealtimePriority = 70;

std::int64_t nowNanos() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * kNanosPerSecond + ts.tv_nsec;
}

void sleepUntil(std::int64_t nanos) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(nanos / kNanosPerSecond);
    ts.tv_nsec = static_cast<long>(nanos % kNanosPerSecond);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

} // namespace

PacedClock::~PacedClock() { stop(); }

void PacedClock::start(std::uint32_t periodFrames, double sampleRate, std::function<void()> period,
                       std::function<void()> overload) {
    stop();
    period_ = std::move(period);
    overload_ = std::move(overload);
    stopping_.store(false);
    ended_.store(false);
    thread_ = std::thread([this, periodFrames, sampleRate] { run(periodFrames, sampleRate); });
}

bool PacedClock::stop(std::chrono::milliseconds patience) {
    if (!thread_.joinable())
        return true;
    stopping_.store(true);
    const auto giveUp = std::chrono::steady_clock::now() + patience;
    while (!ended_.load(std::memory_order_acquire)) {
        if (std::chrono::steady_clock::now() >= giveUp) {
            thread_.detach();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    thread_.join();
    return true;
}

void PacedClock::run(std::uint32_t periodFrames, double sampleRate) {
    sched_param param{};
    param.sched_priority = std::min(kRealtimePriority, sched_get_priority_max(SCHED_FIFO));
    realtime_.store(pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0, std::memory_order_relaxed);

    // Deadlines come from the period count, not from the previous wake-up, so
    // wake-up jitter never accumulates into drift.
    const double nanosPerFrame = static_cast<double>(kNanosPerSecond) / sampleRate;
    const auto due = [&](std::uint64_t period) {
        return static_cast<std::int64_t>(std::llround(static_cast<double>(period * periodFrames) * nanosPerFrame));
    };
    const std::int64_t start = nowNanos();
    std::uint64_t period = 0;
    while (!stopping_.load(std::memory_order_acquire)) {
        sleepUntil(start + due(period));
        if (stopping_.load(std::memory_order_acquire))
            break;
        period_();
        const std::int64_t end = nowNanos();
        if (end > start + due(period + 1)) {
            overload_();
            const auto elapsedPeriods = static_cast<std::uint64_t>(
                static_cast<double>(end - start) / (nanosPerFrame * periodFrames));
            period = std::max(period + 1, elapsedPeriods + 1);
        } else {
            ++period;
        }
    }
    ended_.store(true, std::memory_order_release);
}

} // namespace corvane::hw::virt
