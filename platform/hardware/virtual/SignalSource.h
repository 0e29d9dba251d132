#pragma once
// A Signal made ready for the real-time thread: a WAV file is already decoded,
// so render() only computes. Immutable once made, so the I/O thread may read it
// while the main thread prepares the next one.

#include "platform/hardware/virtual/Signal.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace corvane::hw::virt {

class SignalSource {
public:
    // Main or background thread: decodes a WAV file for input channel
    // `channel`. On failure returns nothing and a readable reason in `error`.
    static std::shared_ptr<const SignalSource> make(const Signal& signal, std::uint32_t channel, std::string& error);

    // The default signal of input channel `channel` (0-based).
    static Signal defaultSignal(std::uint32_t channel);

    // Real-time thread: writes frames firstFrame .. firstFrame + frames - 1.
    void render(std::uint64_t firstFrame, double sampleRate, float* out, std::uint32_t frames) const noexcept;

    const Signal& signal() const { return signal_; }

    // The noise value of frame `frame`, in [-1, 1): a hash of seed and frame, so
    // any frame can be computed on its own.
    static float noiseAt(std::uint64_t seed, std::uint64_t frame) noexcept;

private:
    explicit SignalSource(Signal signal) : signal_(std::move(signal)) {}

    Signal signal_;
    std::vector<float> wav_; // one channel, looped
};

} // namespace corvane::hw::virt
