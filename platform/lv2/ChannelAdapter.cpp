#include "platform/lv2/ChannelAdapter.h"

#include "platform/engine/VectorOps.h"

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
    // Many into one: `to[0]` may be one of the sources, which average() allows.
    engine::vec::average(from, fromCount, to[0], frames);
}

} // namespace corvane::lv2
