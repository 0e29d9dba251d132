#pragma once
// A plug-in that would not load on a strip: what the load-failure alert shows.

#include <QString>
#include <QUuid>

namespace corvane {

struct PluginLoadFailure {
    QUuid id;       // new for every failure
    int slotID = 0; // zero-based strip id
    QString pluginName;
    QString reason;
    friend bool operator==(const PluginLoadFailure&, const PluginLoadFailure&) = default;
};

} // namespace corvane
