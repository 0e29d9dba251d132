#include "platform/hardware/alsa/SampleFormat.h"

#include "platform/system/RealtimeScope.h"

#include <cmath>
#include <cstring>

namespace corvane::hw::alsa {

namespace {

constexpr float kScale16 = 32768.0f;
constexpr float kScale24 = 8388608.0f;
constexpr float kScale32 = 2147483648.0f;

// Clipped to the integer range and rounded; done in double for 32 bits, where
// a float cannot hold every step.
CORVANE_REALTIME
inline std::int32_t toInteger(float sample, double scale) noexcept {
    double value = std::nearbyint(static_cast<double>(sample) * scale);
    if (!(value >= -scale)) // NaN too
        value = value > 0 ? scale - 1 : -scale;
    if (value > scale - 1)
        value = scale - 1;
    return static_cast<std::int32_t>(value);
}

CORVANE_REALTIME
inline std::int32_t readS24(const std::uint8_t* bytes) noexcept {
    const std::uint32_t raw = bytes[0] | (std::uint32_t(bytes[1]) << 8) | (std::uint32_t(bytes[2]) << 16);
    return static_cast<std::int32_t>(raw << 8) >> 8;
}

// One loop per format, each sample read through memcpy: device buffers need
// not be aligned for the wider types (S24_3LE never is).
template <class Read>
CORVANE_REALTIME
void spread(const void* source, std::uint32_t channels, std::uint32_t frames, std::uint32_t bytes,
            float* const* destinations, std::uint32_t offset, Read read) noexcept {
    const auto* in = static_cast<const std::uint8_t*>(source);
    for (std::uint32_t f = 0; f < frames; ++f)
        for (std::uint32_t c = 0; c < channels; ++c, in += bytes)
            destinations[c][offset + f] = read(in);
}

template <class Write>
CORVANE_REALTIME
void gather(const float* const* sources, std::uint32_t channels, std::uint32_t frames, std::uint32_t offset,
            std::uint32_t bytes, void* destination, Write write) noexcept {
    auto* out = static_cast<std::uint8_t*>(destination);
    for (std::uint32_t f = 0; f < frames; ++f)
        for (std::uint32_t c = 0; c < channels; ++c, out += bytes)
            write(sources[c][offset + f], out);
}

} // namespace

std::uint32_t bytesPerSample(SampleFormat format) {
    switch (format) {
    case SampleFormat::S16:
        return 2;
    case SampleFormat::S24_3LE:
        return 3;
    default:
        return 4;
    }
}

const char* formatName(SampleFormat format) {
    switch (format) {
    case SampleFormat::S16:
        return "S16_LE";
    case SampleFormat::S24_3LE:
        return "S24_3LE";
    case SampleFormat::S24:
        return "S24_LE";
    case SampleFormat::S32:
        return "S32_LE";
    case SampleFormat::Float:
        return "FLOAT_LE";
    }
    return "?";
}

CORVANE_REALTIME
void deinterleave(SampleFormat format, const void* source, std::uint32_t channels, std::uint32_t frames,
                  float* const* destinations, std::uint32_t offset) noexcept {
    const std::uint32_t bytes = bytesPerSample(format);
    switch (format) {
    case SampleFormat::S16:
        spread(source, channels, frames, bytes, destinations, offset, [](const std::uint8_t* in) {
            std::int16_t v;
            std::memcpy(&v, in, 2);
            return static_cast<float>(v) / kScale16;
        });
        break;
    case SampleFormat::S24_3LE:
        spread(source, channels, frames, bytes, destinations, offset,
               [](const std::uint8_t* in) { return static_cast<float>(readS24(in)) / kScale24; });
        break;
    case SampleFormat::S24:
        // The top byte is padding, which some drivers leave unset.
        spread(source, channels, frames, bytes, destinations, offset,
               [](const std::uint8_t* in) { return static_cast<float>(readS24(in)) / kScale24; });
        break;
    case SampleFormat::S32:
        spread(source, channels, frames, bytes, destinations, offset, [](const std::uint8_t* in) {
            std::int32_t v;
            std::memcpy(&v, in, 4);
            return static_cast<float>(static_cast<double>(v) / kScale32);
        });
        break;
    case SampleFormat::Float:
        spread(source, channels, frames, bytes, destinations, offset, [](const std::uint8_t* in) {
            float v;
            std::memcpy(&v, in, 4);
            return v;
        });
        break;
    }
}

CORVANE_REALTIME
void interleave(SampleFormat format, const float* const* sources, std::uint32_t channels, std::uint32_t frames,
                std::uint32_t offset, void* destination) noexcept {
    const std::uint32_t bytes = bytesPerSample(format);
    switch (format) {
    case SampleFormat::S16:
        gather(sources, channels, frames, offset, bytes, destination, [](float s, std::uint8_t* out) {
            const auto v = static_cast<std::int16_t>(toInteger(s, kScale16));
            std::memcpy(out, &v, 2);
        });
        break;
    case SampleFormat::S24_3LE:
        gather(sources, channels, frames, offset, bytes, destination, [](float s, std::uint8_t* out) {
            const auto v = static_cast<std::uint32_t>(toInteger(s, kScale24));
            out[0] = static_cast<std::uint8_t>(v);
            out[1] = static_cast<std::uint8_t>(v >> 8);
            out[2] = static_cast<std::uint8_t>(v >> 16);
        });
        break;
    case SampleFormat::S24:
        gather(sources, channels, frames, offset, bytes, destination, [](float s, std::uint8_t* out) {
            const std::int32_t v = toInteger(s, kScale24);
            std::memcpy(out, &v, 4);
        });
        break;
    case SampleFormat::S32:
        gather(sources, channels, frames, offset, bytes, destination, [](float s, std::uint8_t* out) {
            const std::int32_t v = toInteger(s, kScale32);
            std::memcpy(out, &v, 4);
        });
        break;
    case SampleFormat::Float:
        gather(sources, channels, frames, offset, bytes, destination,
               [](float s, std::uint8_t* out) { std::memcpy(out, &s, 4); });
        break;
    }
}

} // namespace corvane::hw::alsa
