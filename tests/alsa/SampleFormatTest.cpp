// Every sample format the ALSA backend runs in, converted from device frames
// to float channels and back.
#include "platform/hardware/alsa/SampleFormat.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

using namespace corvane::hw::alsa;

namespace {

// The steps of each format as floats: what a device can deliver.
float step(SampleFormat format) {
    switch (format) {
    case SampleFormat::S16:
        return 1.0f / 32768.0f;
    case SampleFormat::Float:
        return 0.0f;
    default:
        // S32 carries 24 bits of a float's worth: its steps beyond are not floats.
        return 1.0f / 8388608.0f;
    }
}

} // namespace

TEST(SampleFormat, EveryFormatRoundTripsExactlyKeepsChannelsApartAndClipsOutOfRangeFloats) {
    constexpr std::uint32_t channels = 3, frames = 67, offset = 5;
    std::mt19937 random(7);
    for (SampleFormat format : kAllFormats) {
        SCOPED_TRACE(formatName(format));
        // Values on the format's grid, the extremes included.
        std::vector<std::vector<float>> in(channels, std::vector<float>(offset + frames, 0.0f));
        std::uniform_int_distribution<int> steps(-8388608, 8388607);
        for (std::uint32_t c = 0; c < channels; ++c)
            for (std::uint32_t f = 0; f < frames; ++f) {
                const float s = step(format);
                float v = s > 0 ? static_cast<float>(steps(random) % int(1.0f / s)) * s
                                : std::uniform_real_distribution<float>(-1.0f, 1.0f)(random);
                if (f == 0)
                    v = -1.0f;
                if (f == 1)
                    v = s > 0 ? 1.0f - s : 0.999f;
                in[c][offset + f] = v;
            }
        std::vector<const float*> sources;
        for (auto& channel : in)
            sources.push_back(channel.data());
        std::vector<std::uint8_t> frameBytes(std::size_t(frames) * channels * bytesPerSample(format) + 1, 0xA5);
        interleave(format, sources.data(), channels, frames, offset, frameBytes.data());
        EXPECT_EQ(frameBytes.back(), 0xA5) << "wrote past the frames";

        std::vector<std::vector<float>> out(channels, std::vector<float>(offset + frames, -7.0f));
        std::vector<float*> destinations;
        for (auto& channel : out)
            destinations.push_back(channel.data());
        deinterleave(format, frameBytes.data(), channels, frames, destinations.data(), offset);
        for (std::uint32_t c = 0; c < channels; ++c) {
            EXPECT_EQ(out[c][offset - 1], -7.0f) << "wrote before the offset";
            for (std::uint32_t f = 0; f < frames; ++f)
                ASSERT_EQ(out[c][offset + f], in[c][offset + f]) << "channel " << c << " frame " << f;
        }

        // Out of range and not a number: clipped to the format's ends (floats pass as they are).
        if (format == SampleFormat::Float)
            continue;
        const float wild[] = {1.5f, -3.0f, NAN};
        const float* wildSources[] = {wild, wild + 1, wild + 2};
        std::vector<std::uint8_t> wildBytes(3 * bytesPerSample(format));
        interleave(format, wildSources, 3, 1, 0, wildBytes.data());
        float back[3];
        float* backs[] = {back, back + 1, back + 2};
        deinterleave(format, wildBytes.data(), 3, 1, backs, 0);
        EXPECT_NEAR(back[0], 1.0f, 1.0f / 32768.0f);
        EXPECT_EQ(back[1], -1.0f);
        EXPECT_TRUE(std::isfinite(back[2]));
    }

    // S24 in a 32-bit word: the padding byte is ignored, the sign taken from bit 23.
    const std::uint8_t padded[4] = {0x00, 0x00, 0xC0, 0x5A};
    float value = 0;
    float* one[] = {&value};
    deinterleave(SampleFormat::S24, padded, 1, 1, one, 0);
    EXPECT_EQ(value, -0.5f);
}
