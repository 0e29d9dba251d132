#pragma once
// A single-producer, single-consumer byte ring carrying size-prefixed messages.
// write() and read() never allocate or lock, so either side may be the
// real-time thread. Exactly one thread writes and one thread reads at a time.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane::lv2 {

class RingBuffer {
public:
    // `capacity` is rounded up to a power of two. Allocates: construct off the
    // real-time thread.
    explicit RingBuffer(std::size_t capacity);

    // Producer: appends one message; false (nothing written) when it does not fit.
    bool write(const void* data, std::uint32_t size) noexcept;
    // Producer: one message made of two parts, so a header and a body need not
    // be copied together first.
    bool write(const void* head, std::uint32_t headSize, const void* body, std::uint32_t bodySize) noexcept;

    // Consumer: size of the next message, or nothing (false) when empty.
    bool peekSize(std::uint32_t& size) const noexcept;

    // Consumer: copies the next message into `out` (which holds `capacity`
    // bytes) and removes it; returns its size, 0 when the ring is empty or the
    // message is larger than `capacity`, in which case it is dropped.
    std::uint32_t read(void* out, std::uint32_t capacity) noexcept;

    // Consumer side only, or while neither side runs.
    void clear() noexcept;

private:
    std::size_t space() const noexcept;
    void copyIn(std::size_t at, const void* data, std::size_t size) noexcept;
    void copyOut(std::size_t at, void* out, std::size_t size) const noexcept;

    std::vector<unsigned char> bytes_;
    std::size_t mask_;
    std::atomic<std::size_t> head_{0}; // written by the producer
    std::atomic<std::size_t> tail_{0}; // written by the consumer
};

} // namespace corvane::lv2
