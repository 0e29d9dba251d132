#include "platform/engine/EffectUnit.h"

namespace corvane::engine {

EffectUnit::EffectUnit(std::unique_ptr<EffectProcessor> processor)
    : Unit({1, false, 1}, {1, false, 1}), processor_(std::move(processor)) {}

EffectUnit::~EffectUnit() = default;

bool EffectUnit::acceptsFormat(Direction direction, int, const Format& format, std::string& error) const {
    if (format.channels <= 2)
        return true;
    error = std::string("An effect takes 1 or 2 ") + (direction == Direction::Input ? "input" : "output") +
            " channels, not " + std::to_string(format.channels) + ".";
    return false;
}

bool EffectUnit::prepareToRender(double sampleRate, std::uint32_t maxFrames, std::string& error) {
    const auto in = inputFormat(0);
    const auto out = outputFormat(0);
    if (!in || !out) {
        error = std::string("The effect's ") + (!in ? "input" : "output") + " is not connected.";
        return false;
    }
    return processor_->prepare(sampleRate, maxFrames, in->channels, out->channels, error);
}

} // namespace corvane::engine
