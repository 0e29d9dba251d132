#pragma once
// One installed effect as the catalog lists it. Identity is the plug-in URI.
// A value type QML reads by field name; an empty uri stands for "no plug-in"
// where a strip's choice is read or written (ChannelSlot::component).

#include <QHashFunctions>
#include <QObject>
#include <QString>

namespace corvane {

struct PluginComponent {
    Q_GADGET
    Q_PROPERTY(QString uri MEMBER uri)
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(QString manufacturer MEMBER manufacturer)
    Q_PROPERTY(bool takesMidi MEMBER takesMidi)

public:
    QString uri;
    QString name;
    QString manufacturer; // the author lilv reports; may be empty
    bool takesMidi = false;

    friend bool operator==(const PluginComponent& a, const PluginComponent& b) { return a.uri == b.uri; }
    friend size_t qHash(const PluginComponent& c, size_t seed = 0) noexcept { return qHash(c.uri, seed); }
};

} // namespace corvane
