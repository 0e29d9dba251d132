#pragma once
// Sample formats an ALSA device may run in, and their conversion between the
// device's interleaved frames and the callback's non-interleaved 32-bit float.
//
// Real-time: the conversions run on the I/O thread; they touch only the
// buffers they are given. Integers map to [-1, 1) by their full scale (a
// 16-bit 0x4000 is 0.5); floats going out are clipped to that range and
// rounded to the nearest step, so a value that came in goes out unchanged.

#include <cstdint>

namespace corvane::hw::alsa {

// Little-endian throughout. S24 is 24 bits in the low bytes of a 32-bit word;
// S24_3LE packs the same 24 bits into three bytes.
enum class SampleFormat { S16, S24_3LE, S24, S32, Float };

// Every format, in the order a device is asked for them: the widest first.
inline constexpr SampleFormat kAllFormats[] = {SampleFormat::Float, SampleFormat::S32, SampleFormat::S24,
                                               SampleFormat::S24_3LE, SampleFormat::S16};

std::uint32_t bytesPerSample(SampleFormat format);
const char* formatName(SampleFormat format);

// `frames` interleaved frames of `channels` samples at `source` into channel c
// of `destinations` from element `offset` on.
void deinterleave(SampleFormat format, const void* source, std::uint32_t channels, std::uint32_t frames,
                  float* const* destinations, std::uint32_t offset) noexcept;

// The reverse: elements `offset`.. of every channel of `sources` into
// `frames` interleaved frames at `destination`.
void interleave(SampleFormat format, const float* const* sources, std::uint32_t channels, std::uint32_t frames,
                std::uint32_t offset, void* destination) noexcept;

} // namespace corvane::hw::alsa
