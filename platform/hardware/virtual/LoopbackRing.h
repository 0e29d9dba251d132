#pragma once
// Outputs fed back into inputs after a fixed delay, which may hold a fraction
// of a frame. Made (and sized) on the main thread; read and written only by
// the I/O thread.

#include <cstdint>
#include <vector>

namespace corvane::hw::virt {

class LoopbackRing {
public:
    // `delayFrames` is raised to `periodFrames` when shorter: a period's inputs
    // are delivered before its outputs exist, so a duplex device cannot loop
    // back sooner than one period. A fractional delay interpolates between
    // frames and needs kInterpolationReach frames more than that.
    static constexpr std::uint32_t kInterpolationReach = 16;
    LoopbackRing(std::uint32_t channels, std::uint32_t periodFrames, double delayFrames);

    double delayFrames() const { return whole_ + fraction_; }

    // Real-time thread. Fills `out` with what channel `channel` played delayFrames
    // earlier, zeros where nothing was played (before the loopback existed).
    void read(std::uint32_t channel, std::uint64_t firstFrame, float* out, std::uint32_t frames) const noexcept;
    // Real-time thread. Remembers what channel `channel` played.
    void write(std::uint32_t channel, std::uint64_t firstFrame, const float* in, std::uint32_t frames) noexcept;

private:
    float played(const float* ring, std::uint64_t frame, std::int64_t back) const noexcept;

    std::uint32_t channels_;
    std::uint32_t whole_;
    double fraction_;
    std::size_t length_;
    std::vector<float> taps_;    // empty for a whole delay
    std::vector<float> history_; // channels_ rings of length_ frames, indexed by frame % length_
};

} // namespace corvane::hw::virt
