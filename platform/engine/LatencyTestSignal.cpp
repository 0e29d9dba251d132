#include "platform/engine/LatencyTestSignal.h"

#include "platform/system/RealtimeScope.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace corvane::engine {

namespace {

// Tones a few hundred Hz up to a few kHz pass any interface's coupling
// capacitors and anti-alias filters. Their pairwise differences (1, 4, 16, 64
// and 256 cycles) resolve the delay coarsely without a tone low enough to be
// filtered out; 256 against 512 shows the polarity; 1024 and 2048 refine.
constexpr std::uint32_t kCycles[] = {256, 257, 260, 272, 320, 512, 1024, 2048};
constexpr double kToneAmplitude = 0.0625;

// The window is about a third of a second, and always long enough that the
// highest tone stays below a quarter of the rate.
std::uint32_t windowFor(double sampleRate) {
    std::uint32_t window = 8192;
    while (double(window) * 2 * 2.5 <= sampleRate)
        window *= 2;
    return window;
}

} // namespace

LatencyTestSignal::LatencyTestSignal(double sampleRate)
    : sampleRate_(sampleRate), window_(windowFor(sampleRate)), fade_(window_ / 16),
      // A second, but at least a window to settle in before the one analysed.
      record_(std::max<std::uint64_t>(std::uint64_t(std::llround(sampleRate)), 2ull * window_ + fade_)) {
    const std::size_t count = std::size(kCycles);
    for (std::size_t k = 0; k < count; ++k) {
        // Spread phases keep the peak of the sum low.
        const double phase = std::numbers::pi * double(k * k) / double(count);
        tones_.push_back(Tone{kCycles[k], kToneAmplitude, phase});
    }
    cycle_.resize(window_);
    for (std::uint32_t n = 0; n < window_; ++n) {
        double sum = 0;
        for (const auto& tone : tones_) {
            // Exact in integers before the turn into radians: no drift over the window.
            const auto step = (std::uint64_t(tone.cycles) * n) % window_;
            sum += tone.amplitude * std::cos(2 * std::numbers::pi * double(step) / window_ + tone.phase);
        }
        cycle_[n] = float(sum);
    }
}

CORVANE_REALTIME
float LatencyTestSignal::sample(std::uint64_t frame) const noexcept {
    if (frame >= playFrames())
        return 0.0f;
    const float value = cycle_[frame % window_];
    // Raised-cosine fades: no click into a loudspeaker someone left connected.
    auto ramp = [this](std::uint64_t into) {
        return float(0.5 - 0.5 * std::cos(std::numbers::pi * double(into) / fade_));
    };
    if (frame < fade_)
        return value * ramp(frame);
    if (frame >= record_)
        return value * ramp(playFrames() - frame);
    return value;
}

} // namespace corvane::engine
