#include "platform/hardware/virtual/SignalRecording.h"

#include "platform/system/RealtimeScope.h"

#include <algorithm>

namespace corvane::hw::virt {

SignalRecording::SignalRecording(std::uint32_t inputs, std::uint32_t outputs, std::uint64_t maxFrames)
    : maxFrames_(maxFrames), inputs_(inputs, std::vector<float>(maxFrames)),
      outputs_(outputs, std::vector<float>(maxFrames)) {}

// Real-time thread: no allocation, no locks.
CORVANE_REALTIME
void SignalRecording::append(const float* const* inputs, std::uint32_t inputCount, const float* const* outputs,
                             std::uint32_t outputCount, std::uint32_t frames) noexcept {
    const std::uint64_t held = frames_.load(std::memory_order_relaxed);
    const std::uint64_t count = std::min<std::uint64_t>(frames, maxFrames_ - held);
    if (count == 0)
        return;
    const auto write = [&](std::vector<std::vector<float>>& into, const float* const* from, std::uint32_t n) {
        const std::size_t channels = std::min<std::size_t>(into.size(), n);
        for (std::size_t c = 0; c < channels; ++c)
            std::copy_n(from[c], count, into[c].begin() + static_cast<std::ptrdiff_t>(held));
    };
    write(inputs_, inputs, inputCount);
    write(outputs_, outputs, outputCount);
    frames_.store(held + count, std::memory_order_release);
}

std::vector<float> SignalRecording::copy(const std::vector<std::vector<float>>& channels, std::uint32_t channel,
                                         std::uint64_t frames) {
    if (channel >= channels.size())
        return {};
    const auto& samples = channels[channel];
    return {samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(frames)};
}

std::vector<float> SignalRecording::input(std::uint32_t channel) const {
    return copy(inputs_, channel, frames_.load(std::memory_order_acquire));
}

std::vector<float> SignalRecording::output(std::uint32_t channel) const {
    return copy(outputs_, channel, frames_.load(std::memory_order_acquire));
}

} // namespace corvane::hw::virt
