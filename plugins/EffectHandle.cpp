#include "plugins/EffectHandle.h"

#include "platform/lv2/Lv2Effect.h"

namespace corvane {

lv2::HostedEffect* EffectHandle::hosted() const {
    return unit ? dynamic_cast<lv2::HostedEffect*>(&unit->processor()) : nullptr;
}

lv2::Lv2Effect* EffectHandle::effect() const {
    return unit ? dynamic_cast<lv2::Lv2Effect*>(&unit->processor()) : nullptr;
}

} // namespace corvane
