#include "platform/lv2/RingBuffer.h"

#include "platform/system/RealtimeScope.h"

#include <algorithm>
#include <cstring>

namespace corvane::lv2 {

namespace {
std::size_t roundUpToPowerOfTwo(std::size_t n) {
    std::size_t p = 16;
    while (p < n)
        p <<= 1;
    return p;
}
} // namespace

RingBuffer::RingBuffer(std::size_t capacity)
    : bytes_(roundUpToPowerOfTwo(capacity)), mask_(bytes_.size() - 1) {}

CORVANE_REALTIME
std::size_t RingBuffer::space() const noexcept {
    return bytes_.size() - (head_.load(std::memory_order_relaxed) - tail_.load(std::memory_order_acquire));
}

CORVANE_REALTIME
void RingBuffer::copyIn(std::size_t at, const void* data, std::size_t size) noexcept {
    if (size == 0)
        return; // an empty part may come with no pointer at all
    const std::size_t start = at & mask_;
    const std::size_t first = std::min(size, bytes_.size() - start);
    std::memcpy(bytes_.data() + start, data, first);
    std::memcpy(bytes_.data(), static_cast<const unsigned char*>(data) + first, size - first);
}

CORVANE_REALTIME
void RingBuffer::copyOut(std::size_t at, void* out, std::size_t size) const noexcept {
    const std::size_t start = at & mask_;
    const std::size_t first = std::min(size, bytes_.size() - start);
    std::memcpy(out, bytes_.data() + start, first);
    std::memcpy(static_cast<unsigned char*>(out) + first, bytes_.data(), size - first);
}

CORVANE_REALTIME
bool RingBuffer::write(const void* data, std::uint32_t size) noexcept {
    if (space() < sizeof size + size)
        return false;
    const std::size_t head = head_.load(std::memory_order_relaxed);
    copyIn(head, &size, sizeof size);
    copyIn(head + sizeof size, data, size);
    head_.store(head + sizeof size + size, std::memory_order_release);
    return true;
}

CORVANE_REALTIME
bool RingBuffer::write(const void* head, std::uint32_t headSize, const void* body, std::uint32_t bodySize) noexcept {
    const std::uint32_t size = headSize + bodySize;
    if (size < headSize || space() < sizeof size + std::size_t{size})
        return false;
    const std::size_t at = head_.load(std::memory_order_relaxed);
    copyIn(at, &size, sizeof size);
    copyIn(at + sizeof size, head, headSize);
    copyIn(at + sizeof size + headSize, body, bodySize);
    head_.store(at + sizeof size + size, std::memory_order_release);
    return true;
}

CORVANE_REALTIME
bool RingBuffer::peekSize(std::uint32_t& size) const noexcept {
    const std::size_t tail = tail_.load(std::memory_order_relaxed);
    if (head_.load(std::memory_order_acquire) == tail)
        return false;
    copyOut(tail, &size, sizeof size);
    return true;
}

CORVANE_REALTIME
std::uint32_t RingBuffer::read(void* out, std::uint32_t capacity) noexcept {
    std::uint32_t size = 0;
    if (!peekSize(size))
        return 0;
    const std::size_t tail = tail_.load(std::memory_order_relaxed);
    if (size <= capacity)
        copyOut(tail + sizeof size, out, size);
    tail_.store(tail + sizeof size + size, std::memory_order_release);
    return size <= capacity ? size : 0;
}

void RingBuffer::clear() noexcept { tail_.store(head_.load(std::memory_order_acquire), std::memory_order_release); }

} // namespace corvane::lv2
