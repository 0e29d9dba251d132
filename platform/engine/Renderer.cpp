// Render thread, except publish() (main thread): one period of the graph.
#include "platform/engine/Renderer.h"

#include "platform/engine/ChannelRule.h"
#include "platform/engine/DenormalFlush.h"

#include <algorithm>
#include <thread>

namespace corvane::engine {

void Renderer::publish(RenderPlan* plan) {
    RenderPlan* old = plan_.exchange(plan);
    // The render thread announces the plan it uses and re-checks that it is
    // still the current one (see process()); in that order, once the exchange
    // is done it can only be using `old` if inUse_ already says so.
    while (old && inUse_.load() == old)
        std::this_thread::yield();
}

namespace {

CORVANE_REALTIME
void silence(float* const* outputs, std::uint32_t outputCount, std::uint32_t frames) noexcept {
    for (std::uint32_t c = 0; c < outputCount; ++c)
        std::fill(outputs[c], outputs[c] + frames, 0.0f);
}

CORVANE_REALTIME
void runMixdowns(const std::vector<RenderPlan::Mixdown>& mixdowns, std::uint32_t frames) noexcept {
    for (const auto& m : mixdowns)
        mixDown(m.source, m.sourceChannels, m.destination, frames);
}

} // namespace

CORVANE_REALTIME
void Renderer::process(const float* const* inputs, std::uint32_t inputCount, float* const* outputs,
                       std::uint32_t outputCount, std::uint32_t frames) noexcept {
    RealtimeScope realtime;
    DenormalFlush flush;

    RenderPlan* plan = plan_.load();
    for (;;) {
        inUse_.store(plan);
        RenderPlan* again = plan_.load();
        if (again == plan)
            break;
        plan = again;
    }

    if (!plan) {
        silence(outputs, outputCount, frames);
    } else if (frames > plan->maxFrames) {
        // The device runs longer periods than the graph was built for: there is
        // nowhere to render them, so play silence and let the owner rebuild.
        silence(outputs, outputCount, frames);
        overruns_.fetch_add(1, std::memory_order_relaxed);
        tapThread_.reportOverrun();
    } else {
        for (std::size_t c = 0; c < plan->deviceInputs.size(); ++c) {
            float* to = plan->deviceInputs[c];
            if (c < inputCount && inputs[c])
                std::copy(inputs[c], inputs[c] + frames, to);
            else
                std::fill(to, to + frames, 0.0f);
        }
        for (const auto& step : plan->steps) {
            runMixdowns(step.mixdowns, frames);
            step.unit->render(step.inputs.data(), step.outputs.data(), frames);
            for (const auto& tap : step.taps)
                tap.ring->write(tap.channels, frames);
        }
        runMixdowns(plan->deviceOutputMixdowns, frames);
        const auto produced = static_cast<std::uint32_t>(std::max(plan->deviceOutput.channelCount, 0));
        for (std::uint32_t c = 0; c < outputCount; ++c) {
            if (c < produced)
                std::copy(plan->deviceOutput.channels[c], plan->deviceOutput.channels[c] + frames, outputs[c]);
            else
                std::fill(outputs[c], outputs[c] + frames, 0.0f);
        }
        if (plan->hasTaps)
            tapThread_.wake();
    }
    periods_.fetch_add(1, std::memory_order_relaxed);
    inUse_.store(nullptr);
}

} // namespace corvane::engine
