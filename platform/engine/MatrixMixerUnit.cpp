#include "platform/engine/MatrixMixerUnit.h"

namespace corvane::engine {

namespace {

int channelsOf(const Unit& unit, Direction direction) {
    int total = 0;
    for (int bus = 0; bus < unit.busCount(direction); ++bus)
        if (auto format = unit.format(direction, bus))
            total += format->channels;
    return total;
}

std::unique_ptr<std::atomic<float>[]> zeroedGains(int count) {
    auto gains = std::make_unique<std::atomic<float>[]>(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        gains[static_cast<std::size_t>(i)].store(0.0f, std::memory_order_relaxed);
    return gains;
}

} // namespace

MatrixMixerUnit::MatrixMixerUnit(int inputBuses, int outputBuses)
    : Unit({inputBuses, true, 0}, {outputBuses, true, 1}) {
    busesChanged();
}

MatrixMixerUnit::~MatrixMixerUnit() = default;

// Keeps every gain whose channels still exist, so that reconfiguring a mixer
// does not silently drop routing already written.
void MatrixMixerUnit::busesChanged() {
    const int newInputs = channelsOf(*this, Direction::Input);
    const int newOutputs = channelsOf(*this, Direction::Output);
    if (inputVolumes_ && newInputs == inputChannels_ && newOutputs == outputChannels_)
        return;
    auto inputs = zeroedGains(newInputs);
    auto outputs = zeroedGains(newOutputs);
    auto crosspoints = zeroedGains(newInputs * newOutputs);
    if (inputVolumes_) {
        for (int i = 0; i < std::min(newInputs, inputChannels_); ++i)
            inputs[static_cast<std::size_t>(i)].store(inputVolumes_[static_cast<std::size_t>(i)].load());
        for (int o = 0; o < std::min(newOutputs, outputChannels_); ++o)
            outputs[static_cast<std::size_t>(o)].store(outputVolumes_[static_cast<std::size_t>(o)].load());
        for (int i = 0; i < std::min(newInputs, inputChannels_); ++i)
            for (int o = 0; o < std::min(newOutputs, outputChannels_); ++o)
                crosspoints[static_cast<std::size_t>(i * newOutputs + o)].store(
                    crosspoints_[static_cast<std::size_t>(i * outputChannels_ + o)].load());
    }
    inputVolumes_ = std::move(inputs);
    outputVolumes_ = std::move(outputs);
    crosspoints_ = std::move(crosspoints);
    inputChannels_ = newInputs;
    outputChannels_ = newOutputs;
}

const std::atomic<float>* MatrixMixerUnit::find(ParameterScope scope, std::uint32_t element) const {
    switch (scope) {
    case ParameterScope::Input:
        return element < static_cast<std::uint32_t>(inputChannels_) ? &inputVolumes_[element] : nullptr;
    case ParameterScope::Output:
        return element < static_cast<std::uint32_t>(outputChannels_) ? &outputVolumes_[element] : nullptr;
    case ParameterScope::Global: {
        if (element == kMasterVolumeElement)
            return &master_;
        const std::uint32_t input = element >> 16;
        const std::uint32_t output = element & 0xFFFF;
        if (input >= static_cast<std::uint32_t>(inputChannels_) || output >= static_cast<std::uint32_t>(outputChannels_))
            return nullptr;
        return &crosspoints_[input * static_cast<std::uint32_t>(outputChannels_) + output];
    }
    }
    return nullptr;
}

void MatrixMixerUnit::setParameter(ParameterScope scope, std::uint32_t element, float value) {
    if (auto* slot = find(scope, element))
        const_cast<std::atomic<float>*>(slot)->store(value, std::memory_order_relaxed);
}

float MatrixMixerUnit::parameter(ParameterScope scope, std::uint32_t element) const {
    auto* slot = find(scope, element);
    return slot ? slot->load(std::memory_order_relaxed) : 0.0f;
}

} // namespace corvane::engine
