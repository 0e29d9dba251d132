#include "platform/lv2/HostPlacement.h"

#include "platform/system/Logging.h"
#include "platform/system/ThreadScheduling.h"

#include <sched.h>

#include <vector>

namespace corvane::lv2 {

namespace {

std::uint64_t processRunNanos(int pid) {
    std::uint64_t nanos = 0;
    for (int thread : threadsOf(pid, false))
        nanos += threadRunNanos(pid, thread);
    return nanos;
}

} // namespace

HostPlacement::HostPlacement(std::chrono::milliseconds reviewEvery) : reviewEvery_(reviewEvery) {
    if (sched_getaffinity(0, sizeof(everywhere_), &everywhere_) != 0) {
        CPU_ZERO(&everywhere_);
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
            CPU_SET(cpu, &everywhere_);
    }
}

HostPlacement::~HostPlacement() {
    if (keptTogether())
        letRun();
}

void HostPlacement::review(int seat, int pid, std::uint64_t latePeriods) {
    if (seat < 0 || seat >= kSeats)
        return;
    if (pids_[seat] != pid)
        ranNanos_[seat] = pid > 0 ? processRunNanos(pid) : 0; // a new host's past is not this span's
    pids_[seat] = pid;
    late_[seat] = latePeriods;
    const auto now = Clock::now();
    if (keptTogether()) {
        // At once, not at the next weighing: a host stuck in its plug-in
        // holds up every host beside it.
        std::uint64_t late = 0;
        for (std::uint64_t count : late_)
            late += count;
        const bool lateSince = late > lastLate_ + kLateTolerated;
        lastLate_ = late;
        if (lateSince) {
            letRunAfterLate(now);
            return;
        }
    }
    if (now - lastWeighed_ >= reviewEvery_)
        weigh(now);
}

void HostPlacement::leave(int seat) {
    if (seat >= 0 && seat < kSeats) {
        pids_[seat] = 0;
        late_[seat] = 0;
    }
}

void HostPlacement::periodsMissed() {
    if (keptTogether())
        letRunAfterLate(Clock::now());
}

void HostPlacement::letRunAfterLate(Clock::time_point now) {
    freeUntil_ = now + kFreeAfterLate;
    qCInfo(lcEngine, "The plug-in hosts run on every processor again: periods came late");
    letRun();
}

void HostPlacement::weigh(Clock::time_point now) {
    const bool first = lastWeighed_ == Clock::time_point{};
    const double span = std::chrono::duration<double, std::nano>(now - lastWeighed_).count();
    lastWeighed_ = now;
    std::uint64_t ran = 0;
    std::uint64_t late = 0;
    for (int seat = 0; seat < kSeats; ++seat) {
        if (pids_[seat] <= 0)
            continue;
        const std::uint64_t total = processRunNanos(pids_[seat]);
        ran += total > ranNanos_[seat] ? total - ranNanos_[seat] : 0;
        ranNanos_[seat] = total;
        late += late_[seat];
    }
    const bool lateSince = late > lastLate_ + kLateTolerated;
    lastLate_ = late;
    if (first)
        return;
    const double share = static_cast<double>(ran) / span;
    if (keptTogether() && lateSince) {
        letRunAfterLate(now);
        return;
    }
    if (keptTogether() && share > kFreeAbove) {
        qCInfo(lcEngine, "The plug-in hosts run on every processor again: their work needs more than one");
        letRun();
        return;
    }
    if (!keptTogether() && share < kKeepBelow && now >= freeUntil_) {
        // The audio thread is the one this process runs SCHED_FIFO; without
        // one there is no thread to keep the hosts beside, and at the lowest
        // priority none to put them below.
        const std::vector<int> realtime = threadsOf(0, true);
        sched_param param{};
        if (realtime.empty() || sched_getparam(realtime.front(), &param) != 0 || param.sched_priority < 2)
            return;
        const int processor = lastProcessor(0, realtime.front());
        if (processor < 0 || !CPU_ISSET(processor, &everywhere_))
            return;
        processor_ = processor;
        priority_ = param.sched_priority;
        qCInfo(lcEngine,
               "The plug-in hosts run beside the audio thread on processor %d (their work: %.0f %% of one)",
               processor_, share * 100.0);
    }
    // Again at every weighing while kept: hosts started since and a new
    // audio thread (another device) join the others.
    if (keptTogether())
        keepTogether();
}

void HostPlacement::keepTogether() {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(processor_, &one);
    for (int thread : threadsOf(0, true))
        confineThread(thread, one);
    shiftHosts(priority_, priority_ - 1);
    for (int pid : pids_)
        if (pid > 0)
            for (int thread : threadsOf(pid, false))
                confineThread(thread, one);
}

void HostPlacement::letRun() {
    shiftHosts(priority_ - 1, priority_);
    for (int thread : threadsOf(0, true))
        confineThread(thread, everywhere_);
    for (int pid : pids_)
        if (pid > 0)
            for (int thread : threadsOf(pid, false))
                confineThread(thread, everywhere_);
    processor_ = -1;
}

void HostPlacement::shiftHosts(int from, int to) {
    for (int pid : pids_) {
        if (pid <= 0)
            continue;
        for (int thread : threadsOf(pid, true)) {
            sched_param param{};
            if (sched_getparam(thread, &param) == 0 && param.sched_priority == from) {
                param.sched_priority = to;
                sched_setscheduler(thread, SCHED_FIFO, &param);
            }
        }
    }
}

} // namespace corvane::lv2
