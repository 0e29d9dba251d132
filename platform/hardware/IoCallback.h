#pragma once
// The duplex I/O callback a device drives once per period. A backend holds a
// RealtimeScope around the whole of its device callback, its own part included,
// so that the tests' checker watches all of it.

#include "platform/system/RealtimeScope.h"

#include <cstdint>

namespace corvane::hw {

// Which of a device's channels the callback's next period reads and writes:
// one flag per channel, non-zero for a used one, and the same as lists of the
// used channels. Channels beyond the counts are unused. `changes` differs from
// the last answer's whenever the use may have: while it stays, a backend may
// keep what it worked out from the flags.
struct ChannelUse {
    const std::uint8_t* inputs = nullptr;
    std::uint32_t inputCount = 0;
    const std::uint8_t* outputs = nullptr;
    std::uint32_t outputCount = 0;
    const std::uint32_t* usedInputs = nullptr;
    std::uint32_t usedInputCount = 0;
    const std::uint32_t* usedOutputs = nullptr;
    std::uint32_t usedOutputCount = 0;
    std::uint64_t changes = 0;
};

class IoCallback {
public:
    virtual ~IoCallback() = default;

    // Real-time thread, at the top of a device period when the backend asks,
    // followed by that period's process() calls: the channels they use, or null
    // for all. A backend that asks then hands process() null for each unused
    // channel, and keeps an unused output silent itself. The answer stays
    // valid until the first process() call that follows.
    CORVANE_REALTIME virtual const ChannelUse* channelUse(std::uint32_t frames) noexcept {
        (void)frames;
        return nullptr;
    }

    // Real-time thread. `inputs` holds one non-interleaved float buffer per device
    // input channel, `outputs` one per output channel, each `frames` long; frames
    // never exceeds the period size the device had when I/O started. The callee
    // must fill every output channel it is handed (a null one is the backend's
    // to keep silent; a null input reads as silence) and must not allocate,
    // lock, log or block.
    CORVANE_REALTIME virtual void process(const float* const* inputs, std::uint32_t inputCount, float* const* outputs,
                         std::uint32_t outputCount, std::uint32_t frames) noexcept = 0;
};

} // namespace corvane::hw
