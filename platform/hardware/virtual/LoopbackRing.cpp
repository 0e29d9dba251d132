// read() and write() run on the real-time I/O thread: no allocation, no locks.
#include "platform/hardware/virtual/LoopbackRing.h"

#include "platform/system/RealtimeScope.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace corvane::hw::virt {

LoopbackRing::LoopbackRing(std::uint32_t channels, std::uint32_t periodFrames, double delayFrames)
    : channels_(channels) {
    const double delay = std::max(delayFrames, double(periodFrames));
    whole_ = std::uint32_t(std::floor(delay));
    fraction_ = delay - whole_;
    if (fraction_ > 0) {
        // A Blackman-windowed sinc: a band-limited delay, exact in phase to far
        // below a hundredth of a frame up to a quarter of the rate, which a
        // measurement of the delay can be held to.
        constexpr int reach = int(kInterpolationReach);
        whole_ = std::max(whole_, periodFrames + kInterpolationReach);
        double sum = 0;
        for (int t = 1 - reach; t <= reach; ++t) {
            const double x = t - fraction_;
            const double sinc = std::sin(std::numbers::pi * x) / (std::numbers::pi * x);
            const double window = 0.42 + 0.5 * std::cos(std::numbers::pi * x / reach) +
                                  0.08 * std::cos(2 * std::numbers::pi * x / reach);
            taps_.push_back(float(sinc * window));
            sum += sinc * window;
        }
        for (auto& tap : taps_)
            tap = float(tap / sum);
    }
    length_ = std::size_t(whole_) + periodFrames + kInterpolationReach + 1;
    history_.assign(std::size_t(channels) * length_, 0.0f);
}

CORVANE_REALTIME
float LoopbackRing::played(const float* ring, std::uint64_t frame, std::int64_t back) const noexcept {
    return std::int64_t(frame) >= back ? ring[(frame - std::uint64_t(back)) % length_] : 0.0f;
}

CORVANE_REALTIME
void LoopbackRing::read(std::uint32_t channel, std::uint64_t firstFrame, float* out,
                        std::uint32_t frames) const noexcept {
    if (channel >= channels_) {
        std::fill(out, out + frames, 0.0f);
        return;
    }
    const float* ring = history_.data() + channel * length_;
    const std::int64_t reach = kInterpolationReach;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const std::uint64_t n = firstFrame + i;
        if (taps_.empty()) {
            out[i] = played(ring, n, whole_);
            continue;
        }
        float sum = 0.0f;
        for (std::int64_t t = 1 - reach; t <= reach; ++t)
            sum += taps_[std::size_t(t + reach - 1)] * played(ring, n, whole_ + t);
        out[i] = sum;
    }
}

CORVANE_REALTIME
void LoopbackRing::write(std::uint32_t channel, std::uint64_t firstFrame, const float* in,
                         std::uint32_t frames) noexcept {
    if (channel >= channels_)
        return;
    float* ring = history_.data() + channel * length_;
    for (std::uint32_t i = 0; i < frames; ++i)
        ring[(firstFrame + i) % length_] = in[i];
}

} // namespace corvane::hw::virt
