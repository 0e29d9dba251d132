#pragma once
// The device I/O callback that renders the published plan once per period.
//
// The main thread publishes plans; the render thread picks up the current one
// at the start of each period. publish() returns once the render thread is out
// of the plan it replaced, so the caller may free that plan at once, unless the
// render thread stays inside it past the patience given (a plug-in that stopped
// responding): publish() then says so, and that plan and everything it points
// at must be kept alive for good.

#include "platform/engine/RenderPlan.h"
#include "platform/engine/RenderStats.h"
#include "platform/engine/TapThread.h"
#include "platform/hardware/IoCallback.h"

#include <atomic>
#include <chrono>

namespace corvane::engine {

class Renderer final : public hw::IoCallback {
public:
    explicit Renderer(TapThread& tapThread) : tapThread_(tapThread) {}

    // Main thread. `plan` (may be null: silence) must outlive its publication.
    // False when the render thread was still inside the old plan after `patience`.
    bool publish(RenderPlan* plan, std::chrono::milliseconds patience = std::chrono::seconds(2));

    // Asks the plan's units, and keeps that plan for the process() call that follows.
    const hw::ChannelUse* channelUse(std::uint32_t frames) noexcept override;
    void process(const float* const* inputs, std::uint32_t inputCount, float* const* outputs, std::uint32_t outputCount,
                 std::uint32_t frames) noexcept override;

    // How often the render thread woke the tap thread.
    std::uint64_t tapWakeups() const { return tapThread_.wakeups(); }

    // Periods rendered, and periods that were longer than the plan allows.
    std::uint64_t periodsRendered() const { return periods_.load(std::memory_order_relaxed); }
    std::uint64_t periodsOverrun() const { return overruns_.load(std::memory_order_relaxed); }

    // Any thread: the unit the render thread has been inside for at least
    // `patience` (measured on the monotonic clock), or null.
    Unit* stalledUnit(std::chrono::nanoseconds patience) const;

    // Timing of the periods and of each step's timing group.
    RenderStats& stats() { return stats_; }
    const RenderStats& stats() const { return stats_; }

private:
    RenderPlan* acquirePlan() noexcept;

    TapThread& tapThread_;
    std::atomic<RenderPlan*> plan_{nullptr};
    std::atomic<RenderPlan*> inUse_{nullptr};
    // Render thread: the plan channelUse() answered for, until process() takes it.
    RenderPlan* kept_ = nullptr;
    // Render thread: counts the answers of channelUse() that differed from the one before.
    std::uint64_t useChanges_ = 0;
    std::atomic<std::uint64_t> periods_{0};
    std::atomic<std::uint64_t> overruns_{0};
    // Where the render thread is: the unit it runs and since when (0: between units).
    std::atomic<Unit*> current_{nullptr};
    std::atomic<std::int64_t> currentSince_{0};
    RenderStats stats_;
};

} // namespace corvane::engine
