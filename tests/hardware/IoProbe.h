#pragma once
// A duplex callback for hardware tests: output c carries gain * input c, or
// silence where there is no such input; with `ramp` set it writes (n + 1) * (c + 1)
// at frame n instead, so every output sample says where it came from. It can
// also overrun its deadline on purpose, and tells whether it ran in real time.

#include "platform/system/RealtimeScope.h"
#include "platform/hardware/IoCallback.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

namespace corvane::test {

class IoProbe : public hw::IoCallback {
public:
    float gain = 1.0f;
    bool ramp = false;
    std::atomic<std::uint64_t> calls{0};
    std::atomic<std::uint32_t> lastFrames{0}, lastInputs{0}, lastOutputs{0};
    std::atomic<int> stallMilliseconds{0};
    std::atomic<bool> realtime{false}; // whether the latest call ran inside a real-time scope

    void process(const float* const* inputs, std::uint32_t inputCount, float* const* outputs,
                 std::uint32_t outputCount, std::uint32_t frames) noexcept override {
        for (std::uint32_t c = 0; c < outputCount; ++c)
            for (std::uint32_t i = 0; i < frames; ++i)
                outputs[c][i] = ramp ? static_cast<float>((frame_ + i + 1) * (c + 1))
                                     : c < inputCount ? gain * inputs[c][i] : 0.0f;
        frame_ += frames;
        realtime = corvane::inRealtimeScope();
        lastFrames = frames;
        lastInputs = inputCount;
        lastOutputs = outputCount;
        if (const int stall = stallMilliseconds.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(stall));
        ++calls;
    }

private:
    std::uint64_t frame_ = 0;
};

} // namespace corvane::test
