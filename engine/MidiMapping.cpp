#include "engine/MidiMapping.h"

#include <algorithm>
#include <cmath>

namespace corvane {

namespace {

// Data bytes that follow a channel status byte.
int dataLength(std::uint8_t status) {
    const int type = status & 0xF0;
    return type == 0xC0 || type == 0xD0 ? 1 : 2;
}

} // namespace

bool MidiParser::feed(std::uint8_t byte, MidiMessage& out) noexcept {
    if (byte >= 0xF8) // real-time: clock, start, stop, active sensing; they interrupt nothing
        return false;
    if (byte >= 0xF0) { // system exclusive and system common end the running status
        status_ = 0;
        have_ = 0;
        return false;
    }
    if (byte & 0x80) { // a new status abandons a message left half done
        status_ = byte;
        have_ = 0;
        return false;
    }
    if (status_ == 0) // data with no status: inside system exclusive, or noise
        return false;
    data_[have_++] = byte;
    if (have_ < dataLength(status_))
        return false;
    have_ = 0; // the status keeps running
    out.channel = static_cast<std::uint8_t>((status_ & 0x0F) + 1);
    out.number = data_[0];
    out.value = data_[1];
    switch (status_ & 0xF0) {
    case 0xB0:
        out.kind = MidiKind::ControlChange;
        break;
    case 0x90:
        out.kind = MidiKind::Note;
        break;
    case 0x80:
        out.kind = MidiKind::Note;
        out.value = 0;
        break;
    default:
        out.kind = MidiKind::Other;
        if (dataLength(status_) == 1)
            out.value = 0;
    }
    return true;
}

std::optional<bool> nextSwitchState(SwitchMode mode, bool inverted, const MidiMessage& message, bool on) noexcept {
    bool pressed = message.kind == MidiKind::Note ? message.value > 0 : message.value >= 64;
    if (inverted)
        pressed = !pressed;
    if (mode == SwitchMode::Latching)
        return pressed;
    if (pressed)
        return !on;
    return std::nullopt;
}

ParameterScale scaleOf(const lv2::Parameter& parameter) {
    ParameterScale scale;
    scale.minimum = parameter.minimum;
    scale.maximum = parameter.maximum;
    // A logarithmic span needs both ends on the same side of zero.
    scale.logarithmic = parameter.logarithmic && parameter.minimum > 0.0f && parameter.maximum > parameter.minimum;
    scale.integer = parameter.integer || parameter.enumeration;
    scale.toggled = parameter.toggled;
    if (parameter.enumeration) {
        for (const auto& point : parameter.scalePoints)
            if (point.value >= parameter.minimum && point.value <= parameter.maximum)
                scale.steps.push_back(point.value);
        std::sort(scale.steps.begin(), scale.steps.end());
        scale.steps.erase(std::unique(scale.steps.begin(), scale.steps.end()), scale.steps.end());
    }
    return scale;
}

float scaledValue(const ParameterScale& scale, std::uint8_t value, bool inverted) noexcept {
    double t = std::min<double>(value, 127) / 127.0;
    if (inverted)
        t = 1.0 - t;
    const double lo = scale.minimum;
    const double hi = scale.maximum;
    if (!scale.steps.empty()) {
        const auto last = static_cast<double>(scale.steps.size() - 1);
        return scale.steps[static_cast<std::size_t>(std::lround(t * last))];
    }
    double v = scale.logarithmic ? lo * std::pow(hi / lo, t) : lo + t * (hi - lo);
    if (scale.integer)
        v = std::round(v);
    return static_cast<float>(std::clamp(v, std::min(lo, hi), std::max(lo, hi)));
}

} // namespace corvane
