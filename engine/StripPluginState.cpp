#include "engine/StripPluginState.h"

#include "platform/lv2/Lv2Effect.h"
#include "platform/lv2/StateText.h"

namespace corvane {

std::optional<QByteArray> currentPluginState(const ChannelSlot& slot) {
    if (auto* effect = slot.effect())
        if (auto live = effect->saveState())
            return QByteArray::fromStdString(*live);
    return slot.lastPluginState();
}

std::optional<QString> offerPluginState(ChannelSlot& slot, std::optional<QByteArray> state) {
    // Checked before anything else reads it: settings that nest without end
    // would crash the reader.
    std::string why;
    if (state && slot.component() &&
        !lv2::isStateOf(state->toStdString(), slot.component()->uri.toStdString(), why)) {
        slot.replacePluginState(std::nullopt);
        return QString::fromStdString(why);
    }
    slot.replacePluginState(std::move(state));
    return std::nullopt;
}

} // namespace corvane
