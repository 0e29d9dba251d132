// Render thread: the matrix mixer's audio path.
#include "platform/engine/MatrixMixerUnit.h"

#include "platform/engine/VectorOps.h"

#include <algorithm>

namespace corvane::engine {

CORVANE_REALTIME
const MatrixMixerUnit::RouteList& MatrixMixerUnit::routesForPeriod() noexcept {
    if (handover_.load(std::memory_order_relaxed) & kFresh)
        reading_ = handover_.exchange(reading_, std::memory_order_acq_rel) & ~kFresh;
    return routes_[reading_];
}

CORVANE_REALTIME
void MatrixMixerUnit::render(const InputBus* inputs, const OutputBus* outputs, std::uint32_t frames) noexcept {
    const RouteList& routes = routesForPeriod();
    const int outputBuses = outputBusCount();
    const float master = master_.load(std::memory_order_relaxed);
    const Route* route = routes.routes.data();
    const Route* const end = route + routes.routes.size();
    std::uint32_t output = 0;
    for (int ob = 0; ob < outputBuses; ++ob) {
        for (int oc = 0; oc < outputs[ob].channelCount; ++oc, ++output) {
            float* out = outputs[ob].channels[oc];
            bool written = false;
            // Most outputs of a device-wide mixer have no route: they are passed
            // over without reading their gains.
            if (route != end && route->output == output) {
                const float outputGain =
                    output < static_cast<std::uint32_t>(outputChannels_)
                        ? outputVolumes_[output].load(std::memory_order_relaxed) * master
                        : 0.0f;
                for (; route != end && route->output == output; ++route) {
                    const InputBus& bus = inputs[route->inputBus];
                    if (outputGain == 0.0f ||
                        route->inputBusChannel >= static_cast<std::uint32_t>(bus.channelCount))
                        continue;
                    const float gain = route->crosspoint->load(std::memory_order_relaxed) *
                                       inputVolumes_[route->input].load(std::memory_order_relaxed) *
                                       outputGain;
                    if (gain == 0.0f)
                        continue;
                    const float* in = bus.channels[route->inputBusChannel];
                    // The first contribution overwrites, which spares clearing the output first.
                    if (written)
                        vec::addScaled(in, gain, out, frames);
                    else if (gain == 1.0f) // a plain route: the same samples, for less
                        std::copy(in, in + frames, out);
                    else
                        vec::scale(in, gain, out, frames);
                    written = true;
                }
            }
            // Nothing but this unit writes its outputs: a buffer it silenced
            // stays silent until it writes there again.
            Silenced* silenced = output < silenced_.size() ? &silenced_[output] : nullptr;
            if (written) {
                if (silenced)
                    silenced->buffer = nullptr;
            } else if (!silenced || silenced->buffer != out || silenced->frames < frames) {
                std::fill(out, out + frames, 0.0f);
                if (silenced)
                    *silenced = {out, frames};
            }
        }
    }
}

namespace {

// A bus the list was not made for counts as read and written in full.
const std::uint8_t* flagsOf(const std::vector<std::uint8_t>& flags, const std::vector<std::uint32_t>& starts,
                            int bus) noexcept {
    if (bus < 0 || static_cast<std::size_t>(bus) >= starts.size())
        return nullptr;
    return flags.data() + starts[static_cast<std::size_t>(bus)];
}

} // namespace

CORVANE_REALTIME
const std::uint8_t* MatrixMixerUnit::inputsRead(int bus) noexcept {
    const RouteList& routes = routesForPeriod();
    return flagsOf(routes.reads, routes.inputStarts, bus);
}

CORVANE_REALTIME
const std::uint8_t* MatrixMixerUnit::outputsWritten(int bus) noexcept {
    const RouteList& routes = routesForPeriod();
    return flagsOf(routes.writes, routes.outputStarts, bus);
}

} // namespace corvane::engine
