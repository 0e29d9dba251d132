// Render thread: the effect unit's audio path.
#include "platform/engine/EffectUnit.h"

namespace corvane::engine {

CORVANE_REALTIME
void EffectUnit::render(const InputBus* inputs, const OutputBus* outputs, std::uint32_t frames) noexcept {
    processor_->process(inputs[0].channels, outputs[0].channels, frames);
}

CORVANE_REALTIME
void EffectUnit::beginRender(const InputBus* inputs, std::uint32_t frames) noexcept {
    processor_->begin(inputs[0].channels, frames);
}

CORVANE_REALTIME
void EffectUnit::finishRender(const OutputBus* outputs, const timespec& deadline) noexcept {
    processor_->finish(outputs[0].channels, deadline);
}

} // namespace corvane::engine
