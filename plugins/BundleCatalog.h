#pragma once
// The plug-ins each installed bundle held when it was last read, and bringing
// that up to date by reading only the bundles that changed.

#include "platform/lv2/PluginScan.h"
#include "plugins/InstalledBundles.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace corvane {

struct CatalogedBundle {
    std::uint64_t fingerprint = 0;
    std::vector<lv2::PluginDescription> plugins;
};

using BundleCatalog = std::map<QString, CatalogedBundle>; // by bundle path

struct CatalogRefresh {
    BundleCatalog catalog;
    std::size_t scannedBundles = 0; // bundles read because they were new or changed
    bool changed = false;           // the catalog differs from the one refreshed
};

// `known` brought to what is `installed`: new bundles and those whose
// fingerprint differs are scanned, gone ones dropped, the rest kept unread.
// `freshWorld` as for lv2::scanBundles, and implied when a bundle that held
// plug-ins changed or went. Blocking; any thread but the main one.
CatalogRefresh refreshCatalog(const BundleCatalog& known, const std::vector<InstalledBundle>& installed,
                              bool freshWorld);

// Every plug-in of the catalog once, sorted by URI as lilv lists them. A URI
// that two bundles declare is taken from the first in `installed`'s order.
std::vector<lv2::PluginDescription> pluginsIn(const BundleCatalog& catalog,
                                              const std::vector<InstalledBundle>& installed);

} // namespace corvane
