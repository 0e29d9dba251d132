#include "platform/engine/Unit.h"

namespace corvane::engine {

namespace {

const char* sideName(Direction direction) { return direction == Direction::Input ? "input" : "output"; }

std::string capitalised(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

} // namespace

Unit::Unit(BusRule inputs, BusRule outputs) {
    inputs_.rule = inputs;
    inputs_.formats.resize(static_cast<std::size_t>(inputs.count));
    outputs_.rule = outputs;
    outputs_.formats.resize(static_cast<std::size_t>(outputs.count));
}

Unit::~Unit() = default;

int Unit::busCount(Direction direction) const { return static_cast<int>(side(direction).formats.size()); }

bool Unit::isBusCountChangeable(Direction direction) const { return side(direction).rule.changeable; }

bool Unit::setBusCount(Direction direction, int count, std::string& error) {
    Side& s = side(direction);
    if (count == busCount(direction))
        return true;
    if (!s.rule.changeable) {
        error = "The " + name() + " has a fixed number of " + sideName(direction) + " buses (" +
                std::to_string(busCount(direction)) + ").";
        return false;
    }
    if (count < s.rule.minimum) {
        error = "The " + name() + " needs at least " + std::to_string(s.rule.minimum) + " " + sideName(direction) +
                " bus" + (s.rule.minimum == 1 ? "" : "es") + ".";
        return false;
    }
    if (rendering_) {
        error = "The " + name() + "'s buses cannot change while the engine is running.";
        return false;
    }
    s.formats.resize(static_cast<std::size_t>(count));
    busesChanged();
    return true;
}

std::optional<Format> Unit::format(Direction direction, int bus) const {
    const Side& s = side(direction);
    if (bus < 0 || bus >= busCount(direction))
        return std::nullopt;
    return s.formats[static_cast<std::size_t>(bus)];
}

bool Unit::setFormat(Direction direction, int bus, const Format& format, std::string& error) {
    if (bus < 0 || bus >= busCount(direction)) {
        error = capitalised(sideName(direction)) + " bus " + std::to_string(bus) + " does not exist (the " + name() +
                " has " + std::to_string(busCount(direction)) + ").";
        return false;
    }
    if (!format.isValid()) {
        error = "Invalid " + std::string(sideName(direction)) + " format (" + describe(format) + ").";
        return false;
    }
    auto& slot = side(direction).formats[static_cast<std::size_t>(bus)];
    if (slot == format)
        return true;
    if (rendering_) {
        error = "The " + name() + "'s formats cannot change while the engine is running.";
        return false;
    }
    if (!acceptsFormat(direction, bus, format, error))
        return false;
    slot = format;
    busesChanged();
    return true;
}

bool Unit::hasFixedFormat(Direction, int) const { return false; }

bool Unit::prepareToRender(double, std::uint32_t, std::string&) { return true; }

bool Unit::acceptsFormat(Direction, int, const Format&, std::string&) const { return true; }

void Unit::assignFormat(Direction direction, int bus, std::optional<Format> format) {
    if (bus < 0 || bus >= busCount(direction))
        return;
    side(direction).formats[static_cast<std::size_t>(bus)] = format;
    busesChanged();
}

} // namespace corvane::engine
