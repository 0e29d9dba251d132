#include "platform/system/ExitWatchdog.h"

#include <cerrno>
#include <ctime>
#include <unistd.h>

namespace corvane {

namespace {

// std::chrono::steady_clock is CLOCK_MONOTONIC with libstdc++, which
// sem_clockwait takes directly.
timespec monotonic(std::chrono::steady_clock::time_point at) {
    const auto since = at.time_since_epoch();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
    return timespec{time_t(seconds.count()),
                    long(std::chrono::duration_cast<std::chrono::nanoseconds>(since - seconds).count())};
}

} // namespace

ExitWatchdog::ExitWatchdog(Options options) : options_(std::move(options)) {
    sem_init(&wake_, 0, 0);
    thread_ = std::thread([this] { watch(); });
}

ExitWatchdog::~ExitWatchdog() {
    stopping_.store(true);
    sem_post(&wake_);
    thread_.join();
    sem_destroy(&wake_);
}

void ExitWatchdog::trigger(int signal) noexcept {
    int none = 0;
    if (signal_.compare_exchange_strong(none, signal))
        sem_post(&wake_);
}

bool ExitWatchdog::beginOrderlyEnd() {
    int watching = Watching;
    if (state_.compare_exchange_strong(watching, OrderlyEnd) || watching == OrderlyEnd)
        return true;
    // The last words are being said; the process ends with them.
    while (state_.load() != Ended) {
        const timespec pause{0, 10'000'000};
        nanosleep(&pause, nullptr);
    }
    return false;
}

bool ExitWatchdog::stoppedBefore(std::chrono::steady_clock::time_point deadline) {
    const timespec until = monotonic(deadline);
    while (!stopping_.load()) {
        if (sem_clockwait(&wake_, CLOCK_MONOTONIC, &until) != 0 && errno == ETIMEDOUT)
            return stopping_.load();
    }
    return true;
}

void ExitWatchdog::watch() {
    while (!stopping_.load() && signal_.load() == 0)
        sem_wait(&wake_); // a post, or a signal handled on this thread (EINTR)
    if (stopping_.load())
        return;
    const int signal = signal_.load();
    const auto triggered = std::chrono::steady_clock::now();
    if (stoppedBefore(triggered + options_.grace))
        return;
    int watching = Watching;
    const bool silent = !state_.compare_exchange_strong(watching, Ending);
    if (silent) {
        if (stoppedBefore(triggered + options_.grace + options_.overtime))
            return;
    } else if (options_.lastWords) {
        options_.lastWords(signal);
    }
    if (options_.exit)
        options_.exit(128 + signal);
    else
        _exit(128 + signal);
    state_.store(Ended);
}

} // namespace corvane
