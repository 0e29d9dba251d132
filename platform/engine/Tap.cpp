// Render thread (feed), tap thread (deliver) and main thread (set-up): gathering
// tapped audio into chunks.
#include "platform/engine/Tap.h"

#include "platform/engine/ChannelRule.h"

#include <algorithm>

namespace corvane::engine {

Tap::Tap(Unit& unit, int bus, std::uint32_t bufferFrames, const Format& format, TapBlock block)
    : unit_(&unit), bus_(bus), bufferFrames_(bufferFrames), format_(format), block_(std::move(block)) {
    converted_.resize(static_cast<std::size_t>(format_.channels) * bufferFrames_);
    for (int c = 0; c < format_.channels; ++c)
        convertedChannels_.push_back(converted_.data() + static_cast<std::size_t>(c) * bufferFrames_);
}

void Tap::provideRing(int sourceChannels, std::uint32_t maxFrames) {
    sourceChannels = std::max(sourceChannels, 1);
    // Room for the chunks not yet taken (the tap thread may be woken only
    // once every kMaxChunksPerWake of them), the one being gathered, the
    // longest period on top of them and some 85 ms more at 48 kHz for a tap
    // thread that wakes late. No more than that: the render thread writes its
    // way round the whole ring, and a ring that does not stay in the cache
    // costs a miss on every line it writes.
    const std::uint32_t wanted = (kMaxChunksPerWake + 1) * bufferFrames_ + maxFrames + 4096;
    if (ring_ && ring_->channels() == sourceChannels && ring_->capacity() >= wanted)
        return;
    ring_ = std::make_unique<AudioRing>(sourceChannels, wanted);
    gathered_.assign(static_cast<std::size_t>(sourceChannels) * bufferFrames_, 0.0f);
    gatheredChannels_.clear();
    for (int c = 0; c < sourceChannels; ++c)
        gatheredChannels_.push_back(gathered_.data() + static_cast<std::size_t>(c) * bufferFrames_);
    cursor_.assign(static_cast<std::size_t>(sourceChannels), nullptr);
    fill_ = 0;
    fed_ = 0;
}

CORVANE_REALTIME
bool Tap::feed(const float* const* channels, std::uint32_t frames) noexcept {
    if (!ring_->write(channels, frames))
        return false;
    fed_ += frames;
    if (fed_ < bufferFrames_)
        return false;
    fed_ %= bufferFrames_;
    return true;
}

void Tap::deliver() {
    if (!ring_)
        return;
    const int sourceChannels = ring_->channels();
    while (ring_->readable() > 0) {
        for (int c = 0; c < sourceChannels; ++c)
            cursor_[static_cast<std::size_t>(c)] = gatheredChannels_[static_cast<std::size_t>(c)] + fill_;
        fill_ += ring_->read(cursor_.data(), bufferFrames_ - fill_);
        if (fill_ < bufferFrames_)
            break;
        fill_ = 0;
        if (sourceChannels == format_.channels) {
            block_(gatheredChannels_.data(), sourceChannels, bufferFrames_);
        } else {
            convertChannels(gatheredChannels_.data(), sourceChannels, convertedChannels_.data(), format_.channels,
                            bufferFrames_);
            block_(convertedChannels_.data(), format_.channels, bufferFrames_);
        }
    }
}

void Tap::clear() {
    if (ring_)
        ring_->discard();
    fill_ = 0;
    fed_ = 0;
}

} // namespace corvane::engine
