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
    // Routes point into the gains replaced below: a fresh list is handed over
    // before any render can run again.
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
    silenced_.assign(static_cast<std::size_t>(newOutputs), {});
    publishRoutes();
}

void MatrixMixerUnit::publishRoutes() {
    struct Place {
        std::uint32_t bus, channel;
    };
    std::vector<Place> places;
    places.reserve(static_cast<std::size_t>(inputChannels_));
    for (int bus = 0; bus < inputBusCount(); ++bus)
        if (auto format = inputFormat(bus))
            for (int channel = 0; channel < format->channels; ++channel)
                places.push_back({static_cast<std::uint32_t>(bus), static_cast<std::uint32_t>(channel)});

    RouteList& list = routes_[writing_];
    list.routes.clear();
    list.reads.assign(static_cast<std::size_t>(inputChannels_), 0);
    list.writes.assign(static_cast<std::size_t>(outputChannels_), 0);
    for (int o = 0; o < outputChannels_; ++o) {
        for (int i = 0; i < inputChannels_; ++i) {
            const auto& crosspoint = crosspoints_[static_cast<std::size_t>(i * outputChannels_ + o)];
            if (crosspoint.load(std::memory_order_relaxed) == 0.0f)
                continue;
            const Place& place = places[static_cast<std::size_t>(i)];
            list.routes.push_back({&crosspoint, static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(o),
                                   place.bus, place.channel});
            list.reads[static_cast<std::size_t>(i)] = 1;
            list.writes[static_cast<std::size_t>(o)] = 1;
        }
    }
    auto starts = [this](Direction direction, std::vector<std::uint32_t>& into) {
        into.clear();
        std::uint32_t next = 0;
        for (int bus = 0; bus < busCount(direction); ++bus) {
            into.push_back(next);
            if (auto format = this->format(direction, bus))
                next += static_cast<std::uint32_t>(format->channels);
        }
    };
    starts(Direction::Input, list.inputStarts);
    starts(Direction::Output, list.outputStarts);
    // Releases the list and every gain stored before it; takes back a list the
    // render thread has let go of (or never took).
    writing_ = handover_.exchange(writing_ | kFresh, std::memory_order_acq_rel) & ~kFresh;
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
    auto* slot = const_cast<std::atomic<float>*>(find(scope, element));
    if (!slot)
        return;
    const bool wasZero = slot->exchange(value, std::memory_order_relaxed) == 0.0f;
    // Only a crosspoint turning on or off changes which routes exist; a gain
    // changing on a listed one is read directly by the next period.
    const bool isCrosspoint = scope == ParameterScope::Global && element != kMasterVolumeElement;
    if (isCrosspoint && wasZero != (value == 0.0f))
        publishRoutes();
}

float MatrixMixerUnit::parameter(ParameterScope scope, std::uint32_t element) const {
    auto* slot = find(scope, element);
    return slot ? slot->load(std::memory_order_relaxed) : 0.0f;
}

} // namespace corvane::engine
