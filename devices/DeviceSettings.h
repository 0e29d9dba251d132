#pragma once
// Writing a device's period size and sample rate, as start applies them.
// Blocking; run on the background pool.

#include "platform/hardware/AudioHardware.h"

#include <cstdint>
#include <optional>

namespace corvane {

// Writes the period size (its status is not examined) and returns what the
// device then reports, or none when the read-back fails.
std::optional<std::uint32_t> setBufferFrameSize(hw::AudioHardware& hardware, std::uint32_t frames, hw::ObjectId device);

// The device's current period size, or none when it cannot be read.
std::optional<std::uint32_t> bufferFrameSize(const hw::AudioHardware& hardware, hw::ObjectId device);

// Requests a nominal rate; true when the device accepted the request.
bool setNominalSampleRate(hw::AudioHardware& hardware, double rate, hw::ObjectId device);

// The device's current nominal rate, or none when it cannot be read.
std::optional<double> nominalSampleRate(const hw::AudioHardware& hardware, hw::ObjectId device);

} // namespace corvane
