#pragma once
// Short MIDI messages handed from one thread to another without a lock: a
// reader thread puts in what a MIDI port delivered, the audio thread takes all
// that waits at the top of its period. The capacity is fixed and allocated at
// construction; a message that finds the ring full is dropped and counted, so
// a flood from a controller neither blocks the reader nor grows memory. Only
// messages of one to three bytes travel (the channel messages and the system
// real-time bytes); longer ones (system exclusive) are not control.
//
// One producer and one consumer at a time. The consumer attach()es before it
// starts taking and detach()es once it has stopped: while none is attached,
// nothing waits (what comes then is dropped uncounted), so a start never
// hears what a controller sent while nothing played.

#include "platform/system/RealtimeScope.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane {

class MidiEventRing {
public:
    static constexpr std::size_t kMaxMessageBytes = 3;

    // Room for `capacity` messages, rounded up to a power of two. Allocates.
    explicit MidiEventRing(std::size_t capacity);
    MidiEventRing(const MidiEventRing&) = delete;
    MidiEventRing& operator=(const MidiEventRing&) = delete;

    // Producer; never blocks or allocates. False when the message was dropped:
    // nobody takes messages now, the ring is full (counted), or it is empty or
    // longer than kMaxMessageBytes.
    bool push(const std::uint8_t* bytes, std::size_t size) noexcept;

    // Consumer: every message that waits, oldest first, to `sink(bytes, size)`.
    template <class Sink>
    CORVANE_REALTIME void drain(Sink&& sink) noexcept {
        const std::size_t head = head_.load(std::memory_order_acquire);
        std::size_t tail = tail_.load(std::memory_order_relaxed);
        for (; tail != head; ++tail) {
            const Slot& slot = slots_[tail & mask_];
            sink(slot.bytes.data(), std::uint32_t{slot.size});
        }
        tail_.store(tail, std::memory_order_release);
    }

    // Consumer, before it takes anything: what waited is forgotten.
    void attach() noexcept;
    // Consumer, once it takes no more.
    void detach() noexcept;

    // Messages dropped because the ring was full, since construction. Any thread.
    std::uint64_t dropped() const noexcept { return dropped_.load(std::memory_order_relaxed); }

private:
    struct Slot {
        std::uint8_t size = 0;
        std::array<std::uint8_t, kMaxMessageBytes> bytes{};
    };

    std::vector<Slot> slots_;
    std::size_t mask_;
    std::atomic<std::size_t> head_{0}; // the producer's
    std::atomic<std::size_t> tail_{0}; // the consumer's
    std::atomic<bool> attached_{false};
    std::atomic<std::uint64_t> dropped_{0};
};

} // namespace corvane
