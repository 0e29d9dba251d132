#pragma once
// The virtual device's default inputs are sines computed sample by sample on
// the I/O thread, which would cost more than the graph they feed. Benchmarks
// give their inputs silence, or the same tones played from memory where the
// signal matters, so what they time is the render path.

#include "platform/hardware/virtual/VirtualBackend.h"

#include <cstdint>
#include <string>

namespace corvane::bench {

// Input channels below `toned` carry their default tone looped from memory,
// the rest of the device's `inputs` are silent. False when that cannot be set.
bool precomputeInputs(hw::VirtualBackend& device, const std::string& uid, std::uint32_t inputs, std::uint32_t toned);

} // namespace corvane::bench
