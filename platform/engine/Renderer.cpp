// Render thread, except publish() and stalledUnit() (main thread): one period of the graph.
#include "platform/engine/Renderer.h"

#include "platform/engine/ChannelRule.h"
#include "platform/engine/DenormalFlush.h"

#include <algorithm>
#include <bit>
#include <thread>

namespace corvane::engine {

namespace {

// The monotonic clock in nanoseconds; clock_gettime through the vDSO, no system call.
CORVANE_REALTIME
inline std::int64_t nowNanos() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// What renders elsewhere is awaited until this share of the period has gone
// since the period began; the rest is left for what reads it and for the device.
constexpr double kAheadShare = 0.7;

CORVANE_REALTIME
inline timespec deadlineAfter(std::int64_t began, std::uint32_t frames, double rate) noexcept {
    const double period = rate > 0 ? double(frames) / rate * 1e9 : 0.0;
    const std::int64_t at = began + static_cast<std::int64_t>(period * kAheadShare);
    return {static_cast<time_t>(at / 1'000'000'000), static_cast<long>(at % 1'000'000'000)};
}

CORVANE_REALTIME
void silence(float* const* outputs, std::uint32_t outputCount, std::uint32_t frames) noexcept {
    for (std::uint32_t c = 0; c < outputCount; ++c)
        if (outputs[c])
            std::fill(outputs[c], outputs[c] + frames, 0.0f);
}

// The device's inputs into the plan's buffers. With the period's channel use
// known, an unused one is skipped, its buffer silenced once so that a reader
// that turns to it before the next answer hears nothing rather than the past.
CORVANE_REALTIME
void copyInput(RenderPlan& plan, std::size_t c, const float* const* inputs, std::uint32_t inputCount,
               std::uint32_t frames) noexcept {
    float* to = plan.deviceInputs[c];
    if (c < inputCount && inputs[c]) {
        std::copy(inputs[c], inputs[c] + frames, to);
        plan.silentInputFrames[c] = 0;
    } else if (plan.silentInputFrames[c] < frames) {
        std::fill(to, to + frames, 0.0f);
        plan.silentInputFrames[c] = frames;
    }
}

CORVANE_REALTIME
void copyInputs(RenderPlan& plan, const float* const* inputs, std::uint32_t inputCount, std::uint32_t frames,
                bool useKnown) noexcept {
    if (useKnown && plan.useSteady && frames == plan.steadyFrames) {
        for (std::uint32_t c : plan.usedInputList)
            copyInput(plan, c, inputs, inputCount, frames);
        return;
    }
    // With the use known, the device handed over an unused input as null.
    for (std::size_t c = 0; c < plan.deviceInputs.size(); ++c)
        copyInput(plan, c, inputs, inputCount, frames);
    plan.steadyFrames = useKnown ? frames : 0;
}

// The plan's device output into the device's outputs; one the device handed
// over as null is its own to keep silent.
CORVANE_REALTIME
void copyOutput(const RenderPlan& plan, std::uint32_t c, float* const* outputs,
                std::uint32_t frames) noexcept {
    if (!outputs[c])
        return;
    if (c < static_cast<std::uint32_t>(std::max(plan.deviceOutput.channelCount, 0)))
        std::copy(plan.deviceOutput.channels[c], plan.deviceOutput.channels[c] + frames, outputs[c]);
    else
        std::fill(outputs[c], outputs[c] + frames, 0.0f);
}

// Whether this period's answer is the last one's; lists the used channels
// anew when it is not.
CORVANE_REALTIME
bool noteUse(RenderPlan& plan) noexcept {
    if (plan.inputsInUse == plan.previousInputsInUse && plan.outputsInUse == plan.previousOutputsInUse)
        return true;
    // Same sizes, so neither the copies nor the lists (reserved) allocate.
    plan.previousInputsInUse = plan.inputsInUse;
    plan.previousOutputsInUse = plan.outputsInUse;
    plan.usedInputList.clear();
    for (std::uint32_t c = 0; c < plan.inputsInUse.size(); ++c)
        if (plan.inputsInUse[c])
            plan.usedInputList.push_back(c);
    plan.usedOutputList.clear();
    for (std::uint32_t c = 0; c < plan.outputsInUse.size(); ++c)
        if (plan.outputsInUse[c])
            plan.usedOutputList.push_back(c);
    return false;
}

CORVANE_REALTIME
void runMixdowns(const std::vector<RenderPlan::Mixdown>& mixdowns, std::uint32_t frames) noexcept {
    for (const auto& m : mixdowns)
        mixDown(m.source, m.sourceChannels, m.destination, frames);
}

} // namespace

bool Renderer::publish(RenderPlan* plan, std::chrono::milliseconds patience) {
    RenderPlan* old = plan_.exchange(plan);
    // The render thread announces the plan it uses and re-checks that it is
    // still the current one (see process()); in that order, once the exchange
    // is done it can only be using `old` if inUse_ already says so.
    const auto giveUp = std::chrono::steady_clock::now() + patience;
    while (old && inUse_.load() == old) {
        if (std::chrono::steady_clock::now() >= giveUp)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

CORVANE_REALTIME
RenderPlan* Renderer::acquirePlan() noexcept {
    RenderPlan* plan = plan_.load();
    for (;;) {
        inUse_.store(plan);
        RenderPlan* again = plan_.load();
        if (again == plan)
            return plan;
        plan = again;
    }
}

CORVANE_REALTIME
const hw::ChannelUse* Renderer::channelUse(std::uint32_t frames) noexcept {
    RenderPlan* plan = acquirePlan();
    kept_ = plan;
    if (!plan || frames > plan->maxFrames)
        return nullptr;
    const auto& always = plan->deviceInputsAlwaysRead;
    std::copy(always.begin(), always.end(), plan->inputsInUse.begin());
    std::uint8_t* inputs = plan->inputsInUse.data();
    for (const auto& reader : plan->deviceReaders) {
        const std::uint8_t* read = reader.unit->inputsRead(reader.bus);
        if (read && reader.straight) {
            for (std::size_t k = 0; k < reader.channels.size(); ++k)
                inputs[k] |= read[k];
            continue;
        }
        for (const auto& [channel, device] : reader.channels)
            inputs[device] |= read ? read[channel] : std::uint8_t{1};
    }
    const std::uint8_t* written =
        plan->deviceWriter ? plan->deviceWriter->outputsWritten(plan->deviceWriterBus) : nullptr;
    if (written && plan->outputFeedsStraight) {
        std::copy(written, written + plan->outputsInUse.size(), plan->outputsInUse.begin());
    } else {
        for (std::size_t c = 0; c < plan->deviceOutputFeeds.size(); ++c) {
            const auto& feed = plan->deviceOutputFeeds[c];
            plan->outputsInUse[c] = feed.always || (feed.channel >= 0 && (!written || written[feed.channel]));
        }
    }
    plan->useSteady = noteUse(*plan);
    if (!plan->useSteady || !plan->useAnswered)
        ++useChanges_;
    plan->useAnswered = true;
    auto& use = plan->channelUse;
    use.usedInputs = plan->usedInputList.data();
    use.usedInputCount = static_cast<std::uint32_t>(plan->usedInputList.size());
    use.usedOutputs = plan->usedOutputList.data();
    use.usedOutputCount = static_cast<std::uint32_t>(plan->usedOutputList.size());
    use.changes = useChanges_;
    return &use;
}

Unit* Renderer::stalledUnit(std::chrono::nanoseconds patience) const {
    Unit* unit = current_.load(std::memory_order_acquire);
    const std::int64_t since = currentSince_.load(std::memory_order_acquire);
    if (!unit || since == 0 || nowNanos() - since < patience.count())
        return nullptr;
    // Still the same unit since then, not a new visit to it.
    return current_.load(std::memory_order_acquire) == unit &&
                   currentSince_.load(std::memory_order_acquire) == since
               ? unit
               : nullptr;
}

CORVANE_REALTIME
void Renderer::process(const float* const* inputs, std::uint32_t inputCount, float* const* outputs,
                       std::uint32_t outputCount, std::uint32_t frames) noexcept {
    RealtimeScope realtime;
    DenormalFlush flush;

    // The plan channelUse() answered for, if it was asked this period.
    const bool useKnown = kept_ != nullptr;
    RenderPlan* plan = useKnown ? kept_ : acquirePlan();
    kept_ = nullptr;

    if (!plan) {
        silence(outputs, outputCount, frames);
    } else if (frames > plan->maxFrames) {
        // The device runs longer periods than it said it could: there is nowhere
        // to render them, so play silence and let the owner rebuild.
        silence(outputs, outputCount, frames);
        overruns_.fetch_add(1, std::memory_order_relaxed);
        tapThread_.reportOverrun();
    } else {
        const std::int64_t began = nowNanos();
        copyInputs(*plan, inputs, inputCount, frames, useKnown);
        // Time per timing group within this period. The clock is read around
        // timed steps only: a timed step's time runs from the end of the step
        // before it, so that end is read only when a timed one comes next.
        std::array<std::uint64_t, RenderStats::kGroups> groupNanos{};
        std::uint32_t timedGroups = 0; // one bit per group with time in groupNanos
        bool completedChunk = false;
        std::int64_t stepStart = began;
        bool stepStartRead = true; // stepStart is where the last step ended
        auto readStepStart = [&] {
            if (!stepStartRead)
                stepStart = nowNanos();
            stepStartRead = true;
        };
        // Its time to the step's group; its output to its taps once it is there.
        auto account = [&](const RenderPlan::Step& step, bool rendered) {
            if (rendered)
                for (const auto& tap : step.taps)
                    completedChunk |= tap.tap->feed(tap.channels, frames);
            if (step.timingGroup < 0) {
                stepStartRead = false;
                return;
            }
            const std::int64_t stepEnd = nowNanos();
            groupNanos[static_cast<std::size_t>(step.timingGroup)] += static_cast<std::uint64_t>(stepEnd - stepStart);
            timedGroups |= 1u << step.timingGroup;
            stepStart = stepEnd;
        };
        const timespec deadline = deadlineAfter(began, frames, plan->sampleRate);
        auto finish = [&](std::size_t index) {
            const auto& step = plan->steps[index];
            step.unit->finishRender(step.outputs.data(), deadline);
            account(step, true);
        };
        for (const auto& step : plan->steps) {
            // For an untimed step the stall watch's "since" may be a few steps
            // old: microseconds against a patience of seconds.
            if (step.timingGroup >= 0 || !step.finishFirst.empty())
                readStepStart();
            for (std::size_t index : step.finishFirst)
                finish(index);
            runMixdowns(step.mixdowns, frames);
            current_.store(step.unit, std::memory_order_relaxed);
            currentSince_.store(stepStart, std::memory_order_release);
            if (step.ahead) {
                step.unit->beginRender(step.inputs.data(), frames);
                account(step, false);
                continue;
            }
            step.unit->render(step.inputs.data(), step.outputs.data(), frames);
            account(step, true);
        }
        if (!plan->finishAtEnd.empty())
            readStepStart();
        for (std::size_t index : plan->finishAtEnd)
            finish(index);
        currentSince_.store(0, std::memory_order_release);
        current_.store(nullptr, std::memory_order_release);
        runMixdowns(plan->deviceOutputMixdowns, frames);
        // With the use known the device handed over only the used outputs.
        if (useKnown) {
            for (std::uint32_t c : plan->usedOutputList)
                if (c < outputCount)
                    copyOutput(*plan, c, outputs, frames);
        } else {
            for (std::uint32_t c = 0; c < outputCount; ++c)
                copyOutput(*plan, c, outputs, frames);
        }
        // Only a whole chunk is worth waking the tap thread for.
        if (completedChunk)
            tapThread_.wake();
        stats_.notePeriod(static_cast<std::uint64_t>(nowNanos() - began));
        for (std::uint32_t bits = timedGroups; bits != 0; bits &= bits - 1) {
            const int g = std::countr_zero(bits);
            if (groupNanos[static_cast<std::size_t>(g)] > 0)
                stats_.noteGroup(g, groupNanos[static_cast<std::size_t>(g)]);
        }
    }
    periods_.fetch_add(1, std::memory_order_relaxed);
    inUse_.store(nullptr);
}

} // namespace corvane::engine
