// process() runs on the device's real-time I/O thread: no allocation, no locks.
#include "engine/LatencyPlayback.h"

#include <algorithm>

namespace corvane {

LatencyPlayback::LatencyPlayback(const engine::LatencyTestSignal& signal, std::uint32_t output, std::uint32_t input,
                                 int runs)
    : signal_(signal), output_(output), input_(input), runs_(runs),
      // A device's first periods may still carry what its converters settle to.
      leadIn_(signal.fadeFrames() * 4),
      // The gap lets a run's echo of the one before die away.
      stride_(signal.playFrames() + signal.fadeFrames() * 4),
      recorded_(std::size_t(runs) * signal.recordFrames(), 0.0f) {}

std::span<const float> LatencyPlayback::recording(int run) const {
    const std::size_t length = signal_.recordFrames();
    return std::span<const float>(recorded_).subspan(std::size_t(run) * length, length);
}

std::uint64_t LatencyPlayback::totalFrames() const { return leadIn_ + stride_ * std::uint64_t(runs_); }

CORVANE_REALTIME
void LatencyPlayback::process(const float* const* inputs, std::uint32_t inputCount, float* const* outputs,
                              std::uint32_t outputCount, std::uint32_t frames) noexcept {
    for (std::uint32_t c = 0; c < outputCount; ++c)
        std::fill(outputs[c], outputs[c] + frames, 0.0f);
    if (output_ >= outputCount || input_ >= inputCount)
        return;
    const std::uint64_t record = signal_.recordFrames();
    int completed = completed_.load(std::memory_order_relaxed);
    for (std::uint32_t i = 0; i < frames; ++i) {
        const std::uint64_t n = frame_ + i;
        if (n < leadIn_)
            continue;
        const std::uint64_t run = (n - leadIn_) / stride_;
        const std::uint64_t into = (n - leadIn_) % stride_;
        if (run >= std::uint64_t(runs_))
            break;
        outputs[output_][i] = signal_.sample(into);
        if (into < record) {
            recorded_[run * record + into] = inputs[input_][i];
            if (into + 1 == record)
                completed = int(run) + 1;
        }
    }
    frame_ += frames;
    completed_.store(completed, std::memory_order_release);
}

} // namespace corvane
