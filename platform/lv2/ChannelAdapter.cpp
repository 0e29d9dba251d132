#include "platform/lv2/ChannelAdapter.h"

#include <algorithm>
#include <cstring>

namespace corvane::lv2 {

void adaptChannels(const float* const* from, int fromCount, float* const* to, int toCount,
                   std::uint32_t frames) noexcept {
    const std::size_t bytes = frames * sizeof(float);
    if (fromCount == 0) {
        for (int c = 0; c < toCount; ++c)
            std::memset(to[c], 0, bytes);
        return;
    }
    if (fromCount == toCount || (fromCount > 1 && toCount > 1)) {
        for (int c = 0; c < toCount; ++c) {
            if (c < fromCount)
                std::memmove(to[c], from[c], bytes);
            else
                std::memset(to[c], 0, bytes);
        }
        return;
    }
    if (fromCount == 1) {
        for (int c = 0; c < toCount; ++c)
            std::memmove(to[c], from[0], bytes);
        return;
    }
    // Many into one: read every source before writing, since `to[0]` may alias one.
    const float scale = 1.0f / static_cast<float>(fromCount);
    for (std::uint32_t i = 0; i < frames; ++i) {
        float sum = 0.0f;
        for (int c = 0; c < fromCount; ++c)
            sum += from[c][i];
        to[0][i] = sum * scale;
    }
}

} // namespace corvane::lv2
