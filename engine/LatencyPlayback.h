#pragma once
// The I/O callback of a latency measurement: after a short lead-in it plays
// the test signal's runs one after another out of one output, a short silence
// between them, and records each run's frames of one input. Everything it
// touches is made before I/O starts; the main thread learns how many runs are
// complete through one atomic and reads a run's recording only after that.

#include "platform/engine/LatencyTestSignal.h"
#include "platform/hardware/IoCallback.h"

#include <atomic>
#include <cstdint>
#include <span>
#include <vector>

namespace corvane {

class LatencyPlayback : public hw::IoCallback {
public:
    // `output` and `input` are 0-based device channels.
    LatencyPlayback(const engine::LatencyTestSignal& signal, std::uint32_t output, std::uint32_t input, int runs);

    // Real-time thread.
    void process(const float* const* inputs, std::uint32_t inputCount, float* const* outputs,
                 std::uint32_t outputCount, std::uint32_t frames) noexcept override;

    // Any thread.
    int completedRuns() const { return completed_.load(std::memory_order_acquire); }
    // Main thread, once run `run` is complete.
    std::span<const float> recording(int run) const;
    // Frames from the start of I/O until every run has played and been recorded.
    std::uint64_t totalFrames() const;

private:
    const engine::LatencyTestSignal& signal_;
    const std::uint32_t output_;
    const std::uint32_t input_;
    const int runs_;
    const std::uint64_t leadIn_;
    const std::uint64_t stride_; // from the start of one run to the next
    std::vector<float> recorded_; // runs_ recordings of signal_.recordFrames() each
    std::uint64_t frame_ = 0;     // real-time thread only
    std::atomic<int> completed_{0};
};

} // namespace corvane
