#pragma once
// The duplex I/O callback a device drives once per period. A backend holds a
// RealtimeScope around the whole of its device callback, its own part included,
// so that the tests' checker watches all of it.

#include "platform/system/RealtimeScope.h"

#include <cstdint>

namespace corvane::hw {

class IoCallback {
public:
    virtual ~IoCallback() = default;

    // Real-time thread. `inputs` holds one non-interleaved float buffer per device
    // input channel, `outputs` one per output channel, each `frames` long; frames
    // never exceeds the period size the device had when I/O started. The callee
    // must fill every output channel and must not allocate, lock, log or block.
    CORVANE_REALTIME virtual void process(const float* const* inputs, std::uint32_t inputCount, float* const* outputs,
                         std::uint32_t outputCount, std::uint32_t frames) noexcept = 0;
};

} // namespace corvane::hw
