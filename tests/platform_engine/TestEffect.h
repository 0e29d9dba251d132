#pragma once
// An effect processor for tests: doubles its first input channel into the first
// output and writes the negated input to a second output, and records how the
// engine used it. Touches only preallocated state while processing.

#include "platform/engine/EffectProcessor.h"
#include "platform/engine/RealtimeScope.h"

#include <atomic>

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
    std::atomic<float> lastHistory{0};
};

class TestEffect final : public engine::EffectProcessor {
public:
    explicit TestEffect(TestEffectLog& log, bool refusePrepare = false) : log_(log), refuse_(refusePrepare) {}

    bool prepare(double sampleRate, std::uint32_t maxFrames, int inputChannels, int outputChannels,
                 std::string& error) override {
        if (refuse_) {
            error = "the test effect refuses";
            return false;
        }
        log_.sampleRate = sampleRate;
        log_.maxFrames = maxFrames;
        log_.inputChannels = inputChannels;
        log_.outputChannels = outputChannels;
        ++log_.prepares;
        return true;
    }

    void process(const float* const* inputs, float* const* outputs, std::uint32_t frames) noexcept override {
        ++log_.calls;
        if (!engine::inRealtimeScope())
            log_.allCallsRealtime = false;
        // 1e-40 is below the smallest normal float: with flush-to-zero it becomes 0.
        volatile float tiny = 1e-30f;
        volatile float product = tiny * 1e-10f;
        if (product != 0.0f)
            log_.denormalsFlushed = false;
        for (std::uint32_t f = 0; f < frames; ++f) {
            outputs[0][f] = 2.0f * inputs[0][f];
            if (log_.outputChannels > 1)
                outputs[1][f] = -inputs[0][f];
        }
        history_ = frames ? inputs[0][frames - 1] : history_;
        log_.lastHistory = history_;
    }

    void reset() override {
        ++log_.resets;
        history_ = 0;
        log_.lastHistory = 0;
    }

    double latencySeconds() const override { return 0.005; }

private:
    TestEffectLog& log_;
    bool refuse_;
    float history_ = 0;
};

} // namespace corvane::test
