#pragma once
// A plug-in that would not load on a strip: what the load-failure alert shows.
// A value type QML reads by field name.

#include <QObject>
#include <QString>
#include <QUuid>

namespace corvane {

struct PluginLoadFailure {
    Q_GADGET
    Q_PROPERTY(int slotID MEMBER slotID)
    Q_PROPERTY(QString pluginName MEMBER pluginName)
    Q_PROPERTY(QString reason MEMBER reason)
    // The alert's title and message, the strip numbered from 1.
    Q_PROPERTY(QString title READ title)
    Q_PROPERTY(QString message READ message)

public:
    QUuid id;       // new for every failure
    int slotID = 0; // zero-based strip id
    QString pluginName;
    QString reason;

    QString title() const;
    QString message() const;

    friend bool operator==(const PluginLoadFailure&, const PluginLoadFailure&) = default;
};

} // namespace corvane
