#pragma once
// A strip's plug-in settings as a setup takes and gives them, so that whoever
// saves or opens setups reaches them through the strip, never the plug-in
// layer. Main thread.

#include "engine/ChannelSlot.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace corvane {

// The settings a setup taken now holds: the loaded effect's own (a plug-in's
// state may be read while it runs), else those kept from the last stop.
std::optional<QByteArray> currentPluginState(const ChannelSlot& slot);

// Gives the strip's chosen effect settings from outside, for its next build.
// Text that is not that effect's state (or that no reader should be handed)
// is refused: the strip keeps none, and the reason is returned.
std::optional<QString> offerPluginState(ChannelSlot& slot, std::optional<QByteArray> state);

} // namespace corvane
