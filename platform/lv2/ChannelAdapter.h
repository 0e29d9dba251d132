#pragma once
// Real-time thread (pure). Fits a signal of one channel count onto another:
// equal counts copy; one channel feeds every destination channel; many into
// one is their average (a stereo pair mixes down at half gain per channel);
// otherwise channel i goes to channel i and surplus destinations are silent.
// The strip's widths meet the plug-in's audio ports by this rule both ways.

#include <cstdint>

namespace corvane::lv2 {

void adaptChannels(const float* const* from, int fromCount, float* const* to, int toCount,
                   std::uint32_t frames) noexcept;

} // namespace corvane::lv2
