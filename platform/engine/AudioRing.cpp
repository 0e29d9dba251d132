// Render thread (write) and tap thread (read): the lock-free audio ring.
#include "platform/engine/AudioRing.h"

#include <algorithm>

namespace corvane::engine {

AudioRing::AudioRing(int channels, std::uint32_t minimumFrames) : channels_(std::max(channels, 1)), capacity_(1) {
    while (capacity_ < minimumFrames)
        capacity_ <<= 1;
    samples_ = std::make_unique<float[]>(static_cast<std::size_t>(channels_) * capacity_);
}

CORVANE_REALTIME
bool AudioRing::write(const float* const* source, std::uint32_t frames) noexcept {
    const std::uint64_t head = written_.load(std::memory_order_relaxed);
    const std::uint64_t tail = read_.load(std::memory_order_acquire);
    if (head - tail + frames > capacity_) {
        dropped_.fetch_add(frames, std::memory_order_relaxed);
        return false;
    }
    const std::uint32_t start = static_cast<std::uint32_t>(head & (capacity_ - 1));
    const std::uint32_t first = std::min(frames, capacity_ - start);
    for (int c = 0; c < channels_; ++c) {
        float* channel = samples_.get() + static_cast<std::size_t>(c) * capacity_;
        std::copy(source[c], source[c] + first, channel + start);
        std::copy(source[c] + first, source[c] + frames, channel);
    }
    written_.store(head + frames, std::memory_order_release);
    return true;
}

std::uint32_t AudioRing::readable() const noexcept {
    return static_cast<std::uint32_t>(written_.load(std::memory_order_acquire) - read_.load(std::memory_order_relaxed));
}

std::uint32_t AudioRing::read(float* const* destination, std::uint32_t frames) noexcept {
    const std::uint64_t tail = read_.load(std::memory_order_relaxed);
    const std::uint64_t head = written_.load(std::memory_order_acquire);
    const auto count = static_cast<std::uint32_t>(std::min<std::uint64_t>(frames, head - tail));
    const std::uint32_t start = static_cast<std::uint32_t>(tail & (capacity_ - 1));
    const std::uint32_t first = std::min(count, capacity_ - start);
    for (int c = 0; c < channels_; ++c) {
        const float* channel = samples_.get() + static_cast<std::size_t>(c) * capacity_;
        std::copy(channel + start, channel + start + first, destination[c]);
        std::copy(channel, channel + (count - first), destination[c] + first);
    }
    read_.store(tail + count, std::memory_order_release);
    return count;
}

void AudioRing::discard() noexcept { read_.store(written_.load(std::memory_order_acquire), std::memory_order_release); }

} // namespace corvane::engine
