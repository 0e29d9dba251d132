#pragma once
// The memory Corvane shares with the host process of one plug-in: the audio of
// one period each way, the control port values, what the host reports back,
// and the two futex words that hand a period over and back.
//
// A period: Corvane writes the inputs and their `frames`, then stores the
// period's sequence number in `go` and wakes it; the host runs the plug-in,
// writes the outputs, stores the same number in `done` and wakes that. (A
// host with a bit on the period board, PeriodBoard.h, sleeps and wakes there
// instead, with the other hosts, and `done` only tells which period an
// answer is for.) Corvane takes the
// outputs only when `done` holds the number it sent: an answer that comes
// after Corvane stopped waiting carries an older number and is never used.
// The host handles periods in order and only ever the latest asked for, so
// while `done` holds Corvane's number nothing writes the outputs.
//
// The inputs are not as safe: a host that is late may still read a period's
// input while Corvane writes the next. So each period's input goes to the
// slot of its number's parity, and the host marks the slot it reads in
// `reading` (then looks at `go` once more: a newer period may have come and
// reused the slot meanwhile). Corvane writes a slot only while it is not
// marked; a host two periods behind still reads the slot the next period
// needs, and that period is not handed over at all (the strip plays dry).
//
// A wake is a system call, so each side wakes the other only when that one
// said it may sleep: a waiter sets its flag, looks at the word once more and
// only then sleeps; the other side stores the word and then reads the flag.
// Both in that order (sequentially consistent), one of the two always sees
// the other's write: no answer is slept through, and a side that is not
// asleep costs the other no call.
//
// Laid out as plain words and floats (no pointers) so that both processes can
// map it anywhere; both are built from the same source.

#include "platform/system/Futex.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace corvane::lv2 {

class IsolatedRegion {
public:
    static constexpr int kMaxChannels = 2; // a strip is mono or stereo each way
    static constexpr std::uint32_t kControlCapacity = 4096; // ports beyond are not shared
    static constexpr std::uint32_t kMaxFrames = 1u << 16;

    // Bytes the region needs for blocks of up to `maxFrames`.
    static std::size_t bytesFor(std::uint32_t maxFrames);

    // Corvane, on fresh memory of bytesFor(maxFrames).
    static IsolatedRegion* create(void* memory, std::uint32_t maxFrames);
    // The host: the region in `memory` of `size` bytes, null when it is not
    // one (a different build, or too small for what it says).
    static IsolatedRegion* open(void* memory, std::size_t size);

    std::uint32_t maxFrames() const { return maxFrames_; }
    // The input of the periods whose number has this parity.
    float* input(std::uint32_t sequence, int channel) {
        return samples(static_cast<int>(sequence & 1u) * kMaxChannels + channel);
    }
    float* output(int channel) { return samples(2 * kMaxChannels + channel); }
    // The value of control port `port` (< kControlCapacity): inputs written
    // by Corvane, outputs by the host.
    std::atomic<float>& control(std::uint32_t port) { return controls()[port]; }

    // Written by Corvane before `go`, one for each input slot.
    std::atomic<std::uint32_t> frames[2] = {0, 0};
    std::atomic<std::uint32_t> bypass{0};
    // The strip's bit on the period board its host is given (see
    // PeriodBoard.h); 0: there is none, the host answers on `done` alone.
    std::uint32_t boardBit = 0;
    // Written by the host.
    std::atomic<float> latencyFrames{0.0f};
    std::atomic<std::uint64_t> periodsRun{0};
    std::atomic<std::uint64_t> nonFinitePeriods{0};
    // Not 0 while the host reads that input slot.
    std::atomic<std::uint32_t> reading[2] = {0, 0};

    // Apart from everything else and from each other: each is written by one
    // side and waited on by the other every period. Each has its waiter's
    // flag beside it, set while that waiter may be asleep on it.
    alignas(64) FutexWord go{0};
    std::atomic<std::uint32_t> hostWaiting{0};
    alignas(64) FutexWord done{0};
    std::atomic<std::uint32_t> corvaneWaiting{0};

private:
    IsolatedRegion() = default;
    static constexpr std::uint32_t kMagic = 0x43764955; // also changes when the layout does
    static std::size_t header();
    float* samples(int buffer);
    std::atomic<float>* controls();

    std::uint32_t magic_ = 0;
    std::uint32_t maxFrames_ = 0;
    std::size_t size_ = 0;
};

} // namespace corvane::lv2
