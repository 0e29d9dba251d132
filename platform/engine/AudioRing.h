#pragma once
// A lock-free single-producer / single-consumer ring of planar audio frames.
// The render thread writes, one consumer thread reads. Storage is allocated at
// construction; write() and read() never allocate, lock or wait.

#include "platform/system/RealtimeScope.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace corvane::engine {

class AudioRing {
public:
    // Main thread. Holds at least `minimumFrames` frames of `channels` channels.
    AudioRing(int channels, std::uint32_t minimumFrames);

    int channels() const { return channels_; }
    std::uint32_t capacity() const { return capacity_; }

    // Producer: appends `frames` frames of every channel, or nothing at all when
    // they do not fit (whole periods are dropped so that what is delivered stays
    // contiguous within each period). Returns whether they were written.
    CORVANE_REALTIME bool write(const float* const* source, std::uint32_t frames) noexcept;

    // Consumer: frames ready to read.
    std::uint32_t readable() const noexcept;
    // Consumer: moves up to `frames` frames into `destination` (one pointer per
    // channel). Returns how many were moved.
    std::uint32_t read(float* const* destination, std::uint32_t frames) noexcept;
    // Consumer: throws away everything readable.
    void discard() noexcept;

    // Frames the producer had to drop since construction.
    std::uint64_t droppedFrames() const noexcept { return dropped_.load(std::memory_order_relaxed); }

private:
    int channels_;
    std::uint32_t capacity_; // a power of two
    std::unique_ptr<float[]> samples_; // channel c at [c * capacity_]
    // Monotonic frame counters; the difference is the fill level.
    alignas(64) std::atomic<std::uint64_t> written_{0};
    alignas(64) std::atomic<std::uint64_t> read_{0};
    std::atomic<std::uint64_t> dropped_{0};
};

} // namespace corvane::engine
