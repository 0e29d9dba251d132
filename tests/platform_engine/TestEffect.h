#pragma once
// An effect processor for tests: doubles its first input channel into the first
// output and writes it negated to a second, and records how the engine used it.
// Touches only preallocated state while processing. Told to render ahead, it
// takes its input in begin() and gives the output in finish(), as an effect
// working in another process does.

#include "platform/engine/EffectProcessor.h"
#include "platform/system/RealtimeScope.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <vector>

namespace corvane::test {

struct TestEffectLog {
    double sampleRate = 0;
    std::uint32_t maxFrames = 0;
    int inputChannels = 0;
    int outputChannels = 0;
    int prepares = 0;
    int resets = 0;
    std::atomic<int> calls{0};
    std::atomic<bool> allCallsRealtime{true};
    std::atomic<bool> denormalsFlushed{true};
    std::atomic<float> history{0}; // the last input sample, cleared by reset()
    // Rendering ahead: when (by a clock the test shares between effects) the
    // last period was begun, processed and finished, and the last deadline.
    bool ahead = false;
    std::atomic<int>* clock = nullptr;
    int begun = 0, processed = 0, finished = 0;
    timespec deadline{};
};

class TestEffect final : public engine::EffectProcessor {
  public:
    explicit TestEffect(TestEffectLog& log, bool refusePrepare = false) : log_(log), refuse_(refusePrepare) {}

    bool prepare(double rate, std::uint32_t maxFrames, int inputs, int outputs, std::string& error) override {
        if (refuse_) {
            error = "the test effect refuses";
            return false;
        }
        log_.sampleRate = rate;
        log_.maxFrames = maxFrames;
        log_.inputChannels = inputs;
        log_.outputChannels = outputs;
        ++log_.prepares;
        held_.assign(maxFrames, 0.0f);
        return true;
    }

    bool rendersAhead() const override { return log_.ahead; }
    void begin(const float* const* in, std::uint32_t frames) noexcept override {
        log_.begun = tick();
        std::copy(in[0], in[0] + frames, held_.begin());
        heldFrames_ = frames;
    }
    void finish(float* const* out, const timespec& deadline) noexcept override {
        const float* in[] = {held_.data()};
        process(in, out, heldFrames_);
        log_.finished = tick();
        log_.deadline = deadline;
    }

    void process(const float* const* in, float* const* out, std::uint32_t frames) noexcept override {
        log_.processed = tick();
        ++log_.calls;
        if (!corvane::inRealtimeScope()) log_.allCallsRealtime = false;
        // 1e-40 is below the smallest normal float: flushed to zero it is 0.
        volatile float tiny = 1e-30f;
        if (tiny * 1e-10f != 0.0f) log_.denormalsFlushed = false;
        for (std::uint32_t f = 0; f < frames; ++f) {
            out[0][f] = 2.0f * in[0][f];
            if (log_.outputChannels > 1) out[1][f] = -in[0][f];
        }
        if (frames) log_.history = in[0][frames - 1];
    }

    void reset() override {
        ++log_.resets;
        log_.history = 0;
    }

  private:
    int tick() noexcept { return log_.clock ? ++*log_.clock : 0; }

    TestEffectLog& log_;
    bool refuse_;
    std::vector<float> held_;
    std::uint32_t heldFrames_ = 0;
};

} // namespace corvane::test
