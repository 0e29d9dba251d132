#pragma once
// Where a device's MIDI control input goes: the bytes that came in for a
// period, handed over on the real-time thread at the top of that period,
// before its audio is rendered, so that what they change is heard in it.

#include "platform/system/RealtimeScope.h"

#include <cstdint>

namespace corvane::hw {

class ControlInput {
public:
    virtual ~ControlInput() = default;

    // Real-time thread: one MIDI event's bytes (a whole message, or any part
    // of a stream). Must not allocate, lock, log or block.
    CORVANE_REALTIME virtual void receive(const std::uint8_t* bytes, std::uint32_t size) noexcept = 0;
};

} // namespace corvane::hw
