#pragma once
// The plug-in host's audio thread: waits for Corvane to hand over a period
// through the shared region, runs the plug-in on it, and hands it back with
// the period's number. Runs from prepare until the next prepare or the end.

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

namespace corvane::lv2 {
class IsolatedRegion;
class Lv2Effect;
class PeriodBoard;
} // namespace corvane::lv2

namespace corvane::pluginhost {

class PeriodThread {
public:
    // `effect` prepared for the strip's channels; `inputPorts` its control
    // inputs, `outputPorts` its control outputs (below the region's capacity).
    // `priority` > 0 asks for SCHED_FIFO at that priority. `board`: where
    // each answer is also told, when the region names a bit there.
    PeriodThread(lv2::Lv2Effect& effect, lv2::IsolatedRegion& region, lv2::PeriodBoard* board,
                 std::vector<std::uint32_t> inputPorts, std::vector<std::uint32_t> outputPorts, int priority);
    // Waits for the period in hand to end: a plug-in that never returns keeps
    // the host from ending, and Corvane kills it.
    ~PeriodThread();
    PeriodThread(const PeriodThread&) = delete;
    PeriodThread& operator=(const PeriodThread&) = delete;

    // Whether SCHED_FIFO was granted (false when not asked for).
    bool isRealtime() const { return realtime_; }
    // Asks for SCHED_FIFO at `priority` (> 0) from now on; whether it was granted.
    bool setPriority(int priority);

private:
    // `seen`: the last period asked for before this thread was made, not its to answer.
    void run(std::uint32_t seen) noexcept;
    void runPeriod(std::uint32_t sequence) noexcept;

    lv2::Lv2Effect& effect_;
    lv2::IsolatedRegion& region_;
    lv2::PeriodBoard* board_;
    std::vector<std::uint32_t> inputPorts_;
    std::vector<std::uint32_t> outputPorts_;
    // Per input port: the value the plug-in has. What the region holds at the
    // start is the plug-in's own (the host published it): setting it again
    // could only change it (a default outside the port's range is clamped).
    std::vector<float> applied_;
    std::atomic<bool> stop_{false};
    bool realtime_ = false;
    std::thread thread_;
};

} // namespace corvane::pluginhost
