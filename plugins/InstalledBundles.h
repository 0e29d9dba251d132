#pragma once
// The LV2 bundles in the search directories, each with a fingerprint of what
// it holds: what tells the catalog which bundles changed since it last read
// them, without reading any.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace corvane {

struct InstalledBundle {
    QString path;              // LV2 directory + '/' + bundle name, as lilv spells it
    std::uint64_t fingerprint; // of the names, sizes and modification times of its entries

    friend bool operator==(const InstalledBundle&, const InstalledBundle&) = default;
};

// Every directory in the given LV2 directories, in their order. Looks only at
// each bundle's own entries (the .ttl files and libraries sit there), not
// below: a few hundred stat calls for a full Debian set. Any thread.
std::vector<InstalledBundle> installedBundles(const QStringList& lv2Directories);

} // namespace corvane
