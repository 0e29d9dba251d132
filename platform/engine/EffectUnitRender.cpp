// Render thread: the effect unit's audio path.
#include "platform/engine/EffectUnit.h"

namespace corvane::engine {

CORVANE_REALTIME
void EffectUnit::render(const InputBus* inputs, const OutputBus* outputs, std::uint32_t frames) noexcept {
    processor_->process(inputs[0].channels, outputs[0].channels, frames);
}

} // namespace corvane::engine
