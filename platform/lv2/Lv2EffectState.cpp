// Saving and restoring the full state of a hosted plug-in: the properties it
// keeps through the LV2 state interface plus the value of every input control.
#include "platform/lv2/Lv2Effect.h"

#include "platform/lv2/HostFeatures.h"
#include "platform/lv2/StateText.h"
#include "platform/lv2/UridMap.h"
#include "platform/lv2/World.h"
#include "platform/system/Logging.h"

#include <lv2/atom/atom.h>
#include <lv2/state/state.h>

#include <cstring>

namespace corvane::lv2 {

namespace {
// The subject of the serialised state; it never leaves the process, so any
// stable URI will do.
constexpr const char* stateSubject = "urn:corvane:effect-state";
} // namespace

const void* Lv2Effect::stateValue(const char* symbol, void* self, std::uint32_t* size, std::uint32_t* type) {
    auto* effect = static_cast<Lv2Effect*>(self);
    const int port = effect->findPort(symbol);
    if (port < 0 || effect->ports_[static_cast<std::size_t>(port)].kind != PortKind::Control ||
        !effect->ports_[static_cast<std::size_t>(port)].isInput) {
        *size = 0;
        *type = 0;
        return nullptr;
    }
    float& slot = effect->stateScratch_[static_cast<std::size_t>(port)];
    slot = effect->values_[port].load();
    *size = sizeof(float);
    *type = UridMap::instance().map(LV2_ATOM__Float);
    return &slot;
}

void Lv2Effect::restoreValue(const char* symbol, void* self, const void* value, std::uint32_t size,
                             std::uint32_t type) {
    auto* effect = static_cast<Lv2Effect*>(self);
    const int port = effect->findPort(symbol);
    if (port < 0 || !value)
        return;
    UridMap& urids = UridMap::instance();
    float v = 0.0f;
    if (type == urids.map(LV2_ATOM__Float) && size == sizeof(float)) {
        std::memcpy(&v, value, sizeof v);
    } else if (type == urids.map(LV2_ATOM__Double) && size == sizeof(double)) {
        double d = 0.0;
        std::memcpy(&d, value, sizeof d);
        v = static_cast<float>(d);
    } else if ((type == urids.map(LV2_ATOM__Int) || type == urids.map(LV2_ATOM__Bool)) &&
               size == sizeof(std::int32_t)) {
        std::int32_t i = 0;
        std::memcpy(&i, value, sizeof i);
        v = static_cast<float>(i);
    } else if (type == urids.map(LV2_ATOM__Long) && size == sizeof(std::int64_t)) {
        std::int64_t i = 0;
        std::memcpy(&i, value, sizeof i);
        v = static_cast<float>(i);
    } else {
        return;
    }
    effect->setParameter(static_cast<std::uint32_t>(port), v);
}

std::optional<std::string> Lv2Effect::saveState() {
    World::Lock lock = World::lock();
    UridMap& urids = UridMap::instance();
    stateScratch_.assign(ports_.size(), 0.0f);
    LilvState* state = lilv_state_new_from_instance(plugin_, instance_, urids.mapFeature(), nullptr, nullptr,
                                                    nullptr, nullptr, &Lv2Effect::stateValue, this,
                                                    LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, features_->features());
    if (!state)
        return std::nullopt;
    char* text = lilv_state_to_string(world_->lilv(), urids.mapFeature(), urids.unmapFeature(), state, stateSubject,
                                      nullptr);
    lilv_state_free(state);
    if (!text)
        return std::nullopt;
    std::string result(text);
    lilv_free(text);
    return result;
}

struct Lv2Effect::SavedState {
    LilvState* state = nullptr;
};

void Lv2Effect::SavedStateFree::operator()(SavedState* saved) const {
    if (saved) {
        World::Lock lock = World::lock(); // freeing the state's nodes changes the world
        lilv_state_free(saved->state);
    }
    delete saved;
}

Lv2Effect::SavedStatePtr Lv2Effect::readState(const std::string& text) const {
    std::string why;
    if (!isStateOf(text, uri_, why)) {
        qCWarning(lcEngine, "Saved settings for %s ignored (%s); it keeps its defaults", uri_.c_str(), why.c_str());
        return nullptr;
    }
    UridMap& urids = UridMap::instance();
    LilvState* state = nullptr;
    {
        World::Lock lock = World::lock();
        state = lilv_state_new_from_string(world_->lilv(), urids.mapFeature(), text.c_str());
    }
    if (!state) {
        qCWarning(lcEngine, "Saved settings for %s could not be read; it keeps its defaults", uri_.c_str());
        return nullptr;
    }
    return SavedStatePtr(new SavedState{state});
}

void Lv2Effect::applyState(const SavedState& saved) {
    // lilv_state_restore() touches only the state and the instance; the
    // plug-in's restore (and the work it does there through the worker)
    // runs on this thread, for as long as it takes.
    lilv_state_restore(saved.state, instance_, &Lv2Effect::restoreValue, this, 0, features_->features());
}

bool Lv2Effect::restoreState(const std::string& text) {
    SavedStatePtr state = readState(text);
    if (!state)
        return false;
    applyState(*state);
    return true;
}

} // namespace corvane::lv2
