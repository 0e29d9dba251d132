#pragma once
// One installed effect as the catalog lists it. Identity is the plug-in URI.

#include <QHashFunctions>
#include <QString>

namespace corvane {

struct PluginComponent {
    QString uri;
    QString name;
    QString manufacturer; // the author lilv reports; may be empty
    bool takesMidi = false;

    friend bool operator==(const PluginComponent& a, const PluginComponent& b) { return a.uri == b.uri; }
    friend size_t qHash(const PluginComponent& c, size_t seed = 0) noexcept { return qHash(c.uri, seed); }
};

} // namespace corvane
