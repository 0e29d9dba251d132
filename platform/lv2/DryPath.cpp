// mix(), replace() and delayInput() run on the render thread.
#include "platform/lv2/DryPath.h"

#include "platform/engine/ChannelRule.h"

#include <algorithm>
#include <cmath>

namespace corvane::lv2 {

namespace {

// Switching fades this long between the plug-in's output and the dry path.
constexpr double kFadeSeconds = 0.005;
// The line has at least this much room beyond a block: many plug-ins report
// their latency only once they have run.
constexpr double kHeadroomSeconds = 0.1;

} // namespace

void DryPath::prepare(double sampleRate, std::uint32_t maxFrames, int outputChannels, double latencyFrames) {
    const auto channels = static_cast<std::size_t>(outputChannels);
    maxFrames_ = maxFrames;
    dry_.assign(channels, std::vector<float>(maxFrames, 0.0f));
    dryPointers_.clear();
    for (auto& block : dry_)
        dryPointers_.push_back(block.data());
    fadeStep_ = 1.0f / std::max(1.0f, static_cast<float>(sampleRate * kFadeSeconds));
    const double room = std::max(2.0 * latencyFrames, sampleRate * kHeadroomSeconds) + maxFrames;
    std::uint32_t length = 1;
    while (length < room)
        length <<= 1;
    line_.assign(channels, std::vector<float>(length, 0.0f));
    mask_ = length - 1;
    clear(1.0f);
}

void DryPath::clear(float wet) {
    for (auto& line : line_)
        std::fill(line.begin(), line.end(), 0.0f);
    write_ = 0;
    wet_ = wet;
}

CORVANE_REALTIME
std::uint32_t DryPath::delayInput(const float* const* inputs, int inputChannels, int outputChannels,
                                  std::uint32_t frames, double latencyFrames) noexcept {
    const std::uint32_t longest = mask_ + 1 - maxFrames_; // the line holds at least this plus a block
    const auto delay = static_cast<std::uint32_t>(
        std::clamp(std::round(latencyFrames), 0.0, static_cast<double>(longest)));
    engine::convertChannels(inputs, inputChannels, dryPointers_.data(), outputChannels, frames);
    if (delay > 0) {
        for (int c = 0; c < outputChannels; ++c) {
            float* line = line_[static_cast<std::size_t>(c)].data();
            float* block = dryPointers_[static_cast<std::size_t>(c)];
            for (std::uint32_t i = 0; i < frames; ++i)
                line[(write_ + i) & mask_] = block[i];
            for (std::uint32_t i = 0; i < frames; ++i)
                block[i] = line[(write_ + i - delay) & mask_];
        }
        write_ = (write_ + frames) & mask_;
    }
    return delay;
}

CORVANE_REALTIME
void DryPath::mix(const float* const* inputs, int inputChannels, float* const* outputs, int outputChannels,
                  std::uint32_t frames, double latencyFrames, bool bypassed) noexcept {
    const float target = bypassed ? 0.0f : 1.0f;
    if (wet_ == 1.0f && target == 1.0f && std::round(latencyFrames) < 1.0)
        return; // fully wet and nothing to keep in time: the common case costs nothing
    delayInput(inputs, inputChannels, outputChannels, frames, latencyFrames);
    if (wet_ == target) {
        if (target == 0.0f)
            for (int c = 0; c < outputChannels; ++c)
                std::copy(dryPointers_[static_cast<std::size_t>(c)], dryPointers_[static_cast<std::size_t>(c)] + frames,
                          outputs[c]);
        return;
    }
    // A short linear cross-fade, so switching never clicks.
    const float step = target > wet_ ? fadeStep_ : -fadeStep_;
    float wet = wet_;
    for (std::uint32_t i = 0; i < frames; ++i) {
        wet = step > 0 ? std::min(wet + step, 1.0f) : std::max(wet + step, 0.0f);
        for (int c = 0; c < outputChannels; ++c) {
            const float dry = dryPointers_[static_cast<std::size_t>(c)][i];
            outputs[c][i] = dry + wet * (outputs[c][i] - dry);
        }
    }
    wet_ = wet;
}

CORVANE_REALTIME
void DryPath::replace(const float* const* inputs, int inputChannels, float* const* outputs, int outputChannels,
                      std::uint32_t frames, double latencyFrames) noexcept {
    delayInput(inputs, inputChannels, outputChannels, frames, latencyFrames);
    for (int c = 0; c < outputChannels; ++c)
        std::copy(dryPointers_[static_cast<std::size_t>(c)], dryPointers_[static_cast<std::size_t>(c)] + frames,
                  outputs[c]);
    wet_ = 0.0f;
}

} // namespace corvane::lv2
