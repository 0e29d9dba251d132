// Render thread: the matrix mixer's audio path.
#include "platform/engine/MatrixMixerUnit.h"

#include <algorithm>

namespace corvane::engine {

CORVANE_REALTIME
void MatrixMixerUnit::render(const InputBus* inputs, const OutputBus* outputs, std::uint32_t frames) noexcept {
    const int inputBuses = inputBusCount();
    const int outputBuses = outputBusCount();
    const float master = master_.load(std::memory_order_relaxed);
    int output = 0;
    for (int ob = 0; ob < outputBuses; ++ob) {
        for (int oc = 0; oc < outputs[ob].channelCount; ++oc, ++output) {
            float* out = outputs[ob].channels[oc];
            std::fill(out, out + frames, 0.0f);
            if (output >= outputChannels_)
                continue;
            const float outputGain = outputVolumes_[static_cast<std::size_t>(output)].load(std::memory_order_relaxed) * master;
            if (outputGain == 0.0f)
                continue;
            int input = 0;
            for (int ib = 0; ib < inputBuses; ++ib) {
                for (int ic = 0; ic < inputs[ib].channelCount && input < inputChannels_; ++ic, ++input) {
                    const auto index = static_cast<std::size_t>(input * outputChannels_ + output);
                    const float gain = crosspoints_[index].load(std::memory_order_relaxed) *
                                       inputVolumes_[static_cast<std::size_t>(input)].load(std::memory_order_relaxed) *
                                       outputGain;
                    if (gain == 0.0f)
                        continue;
                    const float* in = inputs[ib].channels[ic];
                    for (std::uint32_t f = 0; f < frames; ++f)
                        out[f] += gain * in[f];
                }
            }
        }
    }
}

} // namespace corvane::engine
