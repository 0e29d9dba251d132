#pragma once
// A period size as a caller writes it: a whole count, or a real number from a
// caller that keeps every number as a double (QML), rounded.

#include "platform/hardware/Properties.h"

#include <cmath>
#include <cstdint>
#include <optional>
#include <variant>

namespace corvane::hw {

// No value for anything else, and for a real outside 1..1e6 frames, which no
// device offers and which would not survive the conversion.
inline std::optional<std::uint32_t> framesFrom(const PropertyValue& value) {
    if (auto* frames = std::get_if<std::uint32_t>(&value))
        return *frames;
    if (auto* real = std::get_if<double>(&value); real && *real >= 1 && *real <= 1e6)
        return static_cast<std::uint32_t>(std::lround(*real));
    return std::nullopt;
}

} // namespace corvane::hw
