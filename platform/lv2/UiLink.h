#pragma once
// The two message rings between a plug-in's editor (main thread) and the
// plug-in (render thread). Each message is one port event: a port index, a
// protocol (0 for a float control value, else the URID of atom:eventTransfer)
// and the bytes of the value or atom. Messages arrive in the order they were
// sent; a message that does not fit is refused, never blocked on.
//
// Threads: toPlugin() and receiveForUi() on the main thread; receiveForPlugin()
// and toUi() on the render thread. Neither side allocates or locks.

#include "platform/lv2/RingBuffer.h"
#include "platform/system/RealtimeScope.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace corvane::lv2 {

class UiLink {
public:
    struct Header {
        std::uint32_t port = 0;
        std::uint32_t protocol = 0;
    };
    static constexpr std::uint32_t floatProtocol = 0;

    // `capacity` bytes in each direction; `largestMessage` is the longest body
    // either side may send (the plug-in's largest atom buffer). Allocates.
    UiLink(std::size_t capacity, std::uint32_t largestMessage)
        : toPlugin_(capacity), toUi_(capacity), pluginScratch_(sizeof(Header) + largestMessage),
          uiScratch_(sizeof(Header) + largestMessage) {}

    // Main thread.
    bool toPlugin(std::uint32_t port, std::uint32_t protocol, const void* body, std::uint32_t size) noexcept {
        const Header h{port, protocol};
        return toPlugin_.write(&h, sizeof h, body, size);
    }
    // Main thread: hands every waiting message to deliver(port, protocol, body, size).
    template <typename Deliver>
    void receiveForUi(Deliver&& deliver) {
        drain(toUi_, uiScratch_, deliver);
    }

    // Render thread.
    CORVANE_REALTIME
    bool toUi(std::uint32_t port, std::uint32_t protocol, const void* body, std::uint32_t size) noexcept {
        const Header h{port, protocol};
        return toUi_.write(&h, sizeof h, body, size);
    }
    template <typename Apply>
    CORVANE_REALTIME
    void receiveForPlugin(Apply&& apply) noexcept {
        drain(toPlugin_, pluginScratch_, apply);
    }

private:
    template <typename F>
    CORVANE_REALTIME
    static void drain(RingBuffer& ring, std::vector<std::uint64_t>& scratch, F& f) {
        auto* bytes = reinterpret_cast<unsigned char*>(scratch.data());
        const auto capacity = static_cast<std::uint32_t>(scratch.size() * sizeof(std::uint64_t));
        std::uint32_t size = 0;
        while (ring.peekSize(size)) {
            // A message too large for the scratch is dropped by read().
            if (ring.read(bytes, capacity) < sizeof(Header))
                continue;
            Header h;
            std::memcpy(&h, bytes, sizeof h);
            f(h.port, h.protocol, static_cast<const void*>(bytes + sizeof h), size - std::uint32_t{sizeof h});
        }
    }

    RingBuffer toPlugin_;
    RingBuffer toUi_;
    // 64-bit words keep an atom read out of a ring aligned.
    struct Scratch : std::vector<std::uint64_t> {
        explicit Scratch(std::size_t bytes) : std::vector<std::uint64_t>((bytes + 7) / 8) {}
    };
    Scratch pluginScratch_; // render thread
    Scratch uiScratch_;     // main thread
};

} // namespace corvane::lv2
