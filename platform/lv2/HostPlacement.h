#pragma once
// Where the hosts of isolated strips run, and with them our audio thread.
//
// Here, as on many virtual machines, waking a thread on another processor is
// dear: it interrupts that processor, often out of its idle state, and each
// of those costs more than a plug-in's light period. Measured with eight
// hosts of mda Delay at 64 frames, the hosts and the audio thread free to run
// anywhere cost about 1.7 times the processor time of the same threads kept
// on one processor, where each hand-over is a plain switch (2.4 times with
// one host). Kept together they also run one after the other, though: heavy
// plug-ins need every processor. So the hosts are kept beside the audio
// thread while their work fits well within one processor, and run anywhere
// once it does not, or once periods come late while they are kept together
// (and for a while after that).
//
// While kept together the hosts run one step below the audio thread's
// real-time priority: a plug-in stuck in an endless loop then holds up the
// other hosts but never the audio thread itself, which a host of equal
// priority on its one processor would. The audio thread tells of the hosts it
// waits for in vain a few periods in a row (PeriodBoard.h), and they are let
// run anywhere then, not at the next review.
//
// Main thread only.

#include <sched.h>

#include <chrono>
#include <cstdint>

namespace corvane::lv2 {

class HostPlacement {
  public:
    static constexpr int kSeats = 32;
    // The hosts' work, as a share of one processor, below which they are kept
    // beside the audio thread, and above which they run anywhere again.
    static constexpr double kKeepBelow = 0.4;
    static constexpr double kFreeAbove = 0.5;
    // How often the work is weighed, and how long hosts run anywhere after
    // a late period.
    static constexpr std::chrono::milliseconds kReviewEvery{500};
    static constexpr std::chrono::seconds kFreeAfterLate{10};
    // Late periods (of all strips together) between two looks that are taken
    // for chance, as a period late everywhere happens now and then anyway; a
    // stuck plug-in makes one every period.
    static constexpr std::uint64_t kLateTolerated = 16;

    // `reviewEvery`: how often the work is weighed.
    explicit HostPlacement(std::chrono::milliseconds reviewEvery = kReviewEvery);
    // Every thread it kept on one processor may run anywhere again.
    ~HostPlacement();
    HostPlacement(const HostPlacement&) = delete;
    HostPlacement& operator=(const HostPlacement&) = delete;

    // Seat `seat`'s host is process `pid` (0: none), and the strip has
    // played `latePeriods` late so far. Weighs the hosts' work at most every
    // kReviewEvery and places them and the audio thread accordingly.
    void review(int seat, int pid, std::uint64_t latePeriods);
    // The seat has no host any more.
    void leave(int seat);
    // Hosts that were handed periods kept missing them: while kept together,
    // they run anywhere at once, and for a while.
    void periodsMissed();
    // Whether the hosts are kept beside the audio thread now.
    bool keptTogether() const { return processor_ >= 0; }

  private:
    using Clock = std::chrono::steady_clock;
    void weigh(Clock::time_point now);
    void keepTogether();
    void letRun();
    // Late periods while kept together: anywhere, and for kFreeAfterLate.
    void letRunAfterLate(Clock::time_point now);
    // Hosts' real-time threads at `from` move to `to`.
    void shiftHosts(int from, int to);

    std::chrono::milliseconds reviewEvery_;
    cpu_set_t everywhere_{}; // what this process may run on, as it started
    int pids_[kSeats] = {};
    std::uint64_t late_[kSeats] = {};
    std::uint64_t ranNanos_[kSeats] = {}; // each host's threads at the last weighing
    std::uint64_t lastLate_ = 0;
    Clock::time_point lastWeighed_{};
    Clock::time_point freeUntil_{};
    int processor_ = -1; // where they are kept; -1: anywhere
    int priority_ = 0;   // the audio thread's, while kept
};

} // namespace corvane::lv2
