// Render thread and tap thread: channel adaptation between buses of different widths.
#include "platform/engine/ChannelRule.h"

#include "platform/engine/VectorOps.h"

#include <algorithm>
#include <cstring>

namespace corvane::engine {

bool needsMixdown(int sourceChannels, int destinationChannels) {
    return destinationChannels == 1 && sourceChannels > 1;
}

bool feedsChannel(int channel, int sourceChannels, int destinationChannels) {
    if (sourceChannels <= 0)
        return false;
    if (sourceChannels == 1 || needsMixdown(sourceChannels, destinationChannels))
        return true;
    return channel < sourceChannels;
}

int sourceChannelFor(int channel, int sourceChannels, int destinationChannels) {
    if (!feedsChannel(channel, sourceChannels, destinationChannels) || needsMixdown(sourceChannels, destinationChannels))
        return -1;
    return sourceChannels == 1 ? 0 : channel;
}

CORVANE_REALTIME
void mixDown(const float* const* source, int sourceChannels, float* destination, std::uint32_t frames) noexcept {
    if (sourceChannels < 1)
        std::fill(destination, destination + frames, 0.0f);
    else
        vec::average(source, sourceChannels, destination, frames);
}

CORVANE_REALTIME
void convertChannels(const float* const* source, int sourceChannels, float* const* destination,
                     int destinationChannels, std::uint32_t frames) noexcept {
    if (sourceChannels == destinationChannels) {
        // The usual case, each period of every strip: channel by channel.
        for (int c = 0; c < destinationChannels; ++c)
            std::memmove(destination[c], source[c], frames * sizeof(float));
        return;
    }
    if (needsMixdown(sourceChannels, destinationChannels)) {
        mixDown(source, sourceChannels, destination[0], frames);
        return;
    }
    for (int c = 0; c < destinationChannels; ++c) {
        const int from = sourceChannelFor(c, sourceChannels, destinationChannels);
        if (from < 0)
            std::fill(destination[c], destination[c] + frames, 0.0f);
        else
            std::memmove(destination[c], source[from], frames * sizeof(float));
    }
}

} // namespace corvane::engine
