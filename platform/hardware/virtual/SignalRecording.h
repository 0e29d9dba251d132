#pragma once
// What the device delivered to its inputs and what the callback wrote to its
// outputs, kept in buffers allocated up front. One writer (the I/O thread, or
// the thread running manual periods) appends; any thread may copy what is there.

#include <atomic>
#include <cstdint>
#include <vector>

namespace corvane::hw::virt {

class SignalRecording {
public:
    SignalRecording(std::uint32_t inputs, std::uint32_t outputs, std::uint64_t maxFrames);

    // Real-time thread. Appends until maxFrames frames are held, then drops the rest.
    void append(const float* const* inputs, std::uint32_t inputCount, const float* const* outputs,
                std::uint32_t outputCount, std::uint32_t frames) noexcept;

    // Any thread: a copy of what has been appended so far; empty for a channel
    // that does not exist.
    std::vector<float> input(std::uint32_t channel) const;
    std::vector<float> output(std::uint32_t channel) const;

private:
    static std::vector<float> copy(const std::vector<std::vector<float>>& channels, std::uint32_t channel,
                                   std::uint64_t frames);

    std::uint64_t maxFrames_;
    std::vector<std::vector<float>> inputs_;
    std::vector<std::vector<float>> outputs_;
    // Frames appended; the release store publishes the samples before it.
    std::atomic<std::uint64_t> frames_{0};
};

} // namespace corvane::hw::virt
