#include "platform/system/MidiEventRing.h"

#include <algorithm>
#include <bit>

namespace corvane {

MidiEventRing::MidiEventRing(std::size_t capacity)
    : slots_(std::bit_ceil(std::max<std::size_t>(capacity, 2))), mask_(slots_.size() - 1) {}

bool MidiEventRing::push(const std::uint8_t* bytes, std::size_t size) noexcept {
    if (size == 0 || size > kMaxMessageBytes || !attached_.load(std::memory_order_acquire))
        return false;
    const std::size_t head = head_.load(std::memory_order_relaxed);
    if (head - tail_.load(std::memory_order_acquire) >= slots_.size()) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    Slot& slot = slots_[head & mask_];
    slot.size = static_cast<std::uint8_t>(size);
    std::copy_n(bytes, size, slot.bytes.begin());
    head_.store(head + 1, std::memory_order_release);
    return true;
}

void MidiEventRing::attach() noexcept {
    tail_.store(head_.load(std::memory_order_acquire), std::memory_order_release);
    attached_.store(true, std::memory_order_release);
}

void MidiEventRing::detach() noexcept { attached_.store(false, std::memory_order_release); }

} // namespace corvane
