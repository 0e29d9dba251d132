// read() and write() run on the real-time I/O thread: no allocation, no locks.
#include "platform/hardware/virtual/LoopbackRing.h"

#include "platform/system/RealtimeScope.h"

#include <algorithm>

namespace corvane::hw::virt {

LoopbackRing::LoopbackRing(std::uint32_t channels, std::uint32_t periodFrames, std::uint32_t delayFrames)
    : channels_(channels), delay_(std::max(delayFrames, periodFrames)),
      length_(static_cast<std::size_t>(delay_) + periodFrames),
      history_(static_cast<std::size_t>(channels) * length_, 0.0f) {}

CORVANE_REALTIME
void LoopbackRing::read(std::uint32_t channel, std::uint64_t firstFrame, float* out,
                        std::uint32_t frames) const noexcept {
    if (channel >= channels_) {
        std::fill(out, out + frames, 0.0f);
        return;
    }
    const float* ring = history_.data() + channel * length_;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const std::uint64_t n = firstFrame + i;
        out[i] = n >= delay_ ? ring[(n - delay_) % length_] : 0.0f;
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
