#pragma once
// Decodes a WAV file to float samples. Runs on the caller's thread and reads
// the whole file: never call it from the real-time thread.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane::hw::virt {

struct WavAudio {
    std::uint32_t channels = 0;
    std::uint32_t sampleRate = 0;
    std::vector<float> samples; // interleaved, frames * channels

    std::size_t frames() const { return channels ? samples.size() / channels : 0; }
};

// 16-bit integer PCM and 32-bit float, plain or extensible format headers.
// On failure returns nothing and sets `error` to a readable reason.
std::optional<WavAudio> readWav(const std::string& path, std::string& error);

} // namespace corvane::hw::virt
