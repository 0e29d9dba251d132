#include "engine/PluginLoadFailure.h"

namespace corvane {

QString PluginLoadFailure::title() const { return QStringLiteral("Couldn’t load “%1”").arg(pluginName); }

QString PluginLoadFailure::message() const {
    return QStringLiteral("Channel %1 could not be started because its plugin failed to load.\n\nThe system reported: %2")
        .arg(QString::number(slotID + 1), reason);
}

} // namespace corvane
