#include "platform/hardware/virtual/WavReader.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace corvane::hw::virt {

namespace {

constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;

std::uint16_t le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t le32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

} // namespace

std::optional<WavAudio> readWav(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "Cannot open " + path + ".";
        return std::nullopt;
    }
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const unsigned char* data = bytes.data();
    if (bytes.size() < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) {
        error = path + " is not a WAV file.";
        return std::nullopt;
    }

    std::uint16_t format = 0;
    std::uint16_t channels = 0;
    std::uint32_t rate = 0;
    std::uint16_t bits = 0;
    const unsigned char* audio = nullptr;
    std::size_t audioBytes = 0;

    // Chunks are word aligned; an odd-sized chunk is followed by one pad byte.
    std::size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        const unsigned char* chunk = data + pos;
        const std::size_t size = le32(chunk + 4);
        const std::size_t available = bytes.size() - pos - 8;
        const unsigned char* body = chunk + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (size < 16 || size > available) {
                error = path + " has a broken format chunk.";
                return std::nullopt;
            }
            format = le16(body);
            channels = le16(body + 2);
            rate = le32(body + 4);
            bits = le16(body + 14);
            if (format == kFormatExtensible && size >= 26)
                format = le16(body + 24); // the sub-format GUID starts with the plain format code
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            audio = body;
            // Writers that stream sometimes leave the size unset; take what is there.
            audioBytes = size <= available ? size : available;
            break;
        }
        if (size > available)
            break;
        pos += 8 + size + (size & 1u);
    }

    if (channels == 0 || rate == 0) {
        error = path + " has no usable format chunk.";
        return std::nullopt;
    }
    if (!((format == kFormatPcm && bits == 16) || (format == kFormatFloat && bits == 32))) {
        error = path + " is neither 16-bit PCM nor 32-bit float.";
        return std::nullopt;
    }
    if (!audio) {
        error = path + " has no audio data.";
        return std::nullopt;
    }

    const std::size_t bytesPerFrame = static_cast<std::size_t>(channels) * (bits / 8u);
    const std::size_t frames = audioBytes / bytesPerFrame;
    if (frames == 0) {
        error = path + " holds no audio.";
        return std::nullopt;
    }

    WavAudio result;
    result.channels = channels;
    result.sampleRate = rate;
    result.samples.resize(frames * channels);
    for (std::size_t i = 0; i < result.samples.size(); ++i) {
        if (format == kFormatPcm) {
            const auto value = static_cast<std::int16_t>(le16(audio + 2 * i));
            result.samples[i] = static_cast<float>(value) / 32768.0f;
        } else {
            const std::uint32_t raw = le32(audio + 4 * i);
            float value;
            std::memcpy(&value, &raw, sizeof value);
            result.samples[i] = value;
        }
    }
    return result;
}

} // namespace corvane::hw::virt
