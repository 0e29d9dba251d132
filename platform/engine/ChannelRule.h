#pragma once
// What happens where a connection joins buses of different widths:
// - equal widths pass channel by channel;
// - a mono signal feeds every channel of a wider bus;
// - a wider signal into a mono bus is mixed down, each channel at 1/width gain
//   (half gain per channel for stereo), so a centred source keeps its level;
// - any other pair passes the channels both sides have and leaves the rest silent.
// Mixer connections and taps follow it, and so does a strip meeting its
// plug-in's audio ports, both ways.

#include "platform/system/RealtimeScope.h"

#include <cstdint>

namespace corvane::engine {

// Which source channel feeds destination channel `channel`, or -1 when it is a
// mix of all of them (mono destination) or silent (see feedsChannel).
int sourceChannelFor(int channel, int sourceChannels, int destinationChannels);
// False when destination channel `channel` receives nothing.
bool feedsChannel(int channel, int sourceChannels, int destinationChannels);
bool needsMixdown(int sourceChannels, int destinationChannels);

// Render or tap thread: writes all `destinationChannels` channels of `destination`.
// A destination channel may be the very buffer of its source (a plug-in held
// aside passes its strip's signal through in place).
CORVANE_REALTIME
void convertChannels(const float* const* source, int sourceChannels, float* const* destination,
                     int destinationChannels, std::uint32_t frames) noexcept;

// Render or tap thread: the average of `sourceChannels` channels into `destination`.
CORVANE_REALTIME
void mixDown(const float* const* source, int sourceChannels, float* destination, std::uint32_t frames) noexcept;

} // namespace corvane::engine
