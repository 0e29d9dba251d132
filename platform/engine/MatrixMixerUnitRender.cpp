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
    int suppliedInputs = 0;
    for (int ib = 0; ib < inputBusCount(); ++ib)
        for (int ic = 0; ic < inputs[ib].channelCount && suppliedInputs < inputChannels_; ++ic)
            inputSamples_[static_cast<std::size_t>(suppliedInputs++)] = inputs[ib].channels[ic];

    const float master = master_.load(std::memory_order_relaxed);
    auto route = routes.begin();
    std::uint32_t output = 0;
    for (int ob = 0; ob < outputBusCount(); ++ob) {
        for (int oc = 0; oc < outputs[ob].channelCount; ++oc, ++output) {
            float* out = outputs[ob].channels[oc];
            bool written = false;
            const float outputGain =
                output < static_cast<std::uint32_t>(outputChannels_)
                    ? outputVolumes_[output].load(std::memory_order_relaxed) * master
                    : 0.0f;
            for (; route != routes.end() && route->output == output; ++route) {
                if (outputGain == 0.0f || route->input >= static_cast<std::uint32_t>(suppliedInputs))
                    continue;
                const float gain = route->crosspoint->load(std::memory_order_relaxed) *
                                   inputVolumes_[route->input].load(std::memory_order_relaxed) * outputGain;
                if (gain == 0.0f)
                    continue;
                // The first contribution overwrites, which spares clearing the output first.
                if (written)
                    vec::addScaled(inputSamples_[route->input], gain, out, frames);
                else
                    vec::scale(inputSamples_[route->input], gain, out, frames);
                written = true;
            }
            if (!written)
                std::fill(out, out + frames, 0.0f);
        }
    }
}

} // namespace corvane::engine
