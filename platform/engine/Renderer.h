#pragma once
// The device I/O callback that renders the published plan once per period.
//
// The main thread publishes plans; the render thread picks up the current one
// at the start of each period. publish() returns only once the render thread is
// out of the plan it replaced, so the caller may free that plan at once.

#include "platform/engine/RenderPlan.h"
#include "platform/engine/TapThread.h"
#include "platform/hardware/IoCallback.h"

#include <atomic>

namespace corvane::engine {

class Renderer final : public hw::IoCallback {
public:
    explicit Renderer(TapThread& tapThread) : tapThread_(tapThread) {}

    // Main thread. `plan` (may be null: silence) must outlive its publication.
    void publish(RenderPlan* plan);

    void process(const float* const* inputs, std::uint32_t inputCount, float* const* outputs, std::uint32_t outputCount,
                 std::uint32_t frames) noexcept override;

    // Periods rendered, and periods that were longer than the plan allows.
    std::uint64_t periodsRendered() const { return periods_.load(std::memory_order_relaxed); }
    std::uint64_t periodsOverrun() const { return overruns_.load(std::memory_order_relaxed); }

private:
    TapThread& tapThread_;
    std::atomic<RenderPlan*> plan_{nullptr};
    std::atomic<RenderPlan*> inUse_{nullptr};
    std::atomic<std::uint64_t> periods_{0};
    std::atomic<std::uint64_t> overruns_{0};
};

} // namespace corvane::engine
