#include "plugins/BundleCatalog.h"

#include <QFile>

#include <algorithm>
#include <set>
#include <string>

namespace corvane {

CatalogRefresh refreshCatalog(const BundleCatalog& known, const std::vector<InstalledBundle>& installed,
                              bool freshWorld) {
    CatalogRefresh result;
    std::vector<std::string> changed;
    std::set<QString> present;
    // Running instances may use the plug-ins of a bundle that changed or went:
    // rather than change their world under them, later instances get a new one.
    bool replacesPlugins = false;
    for (const InstalledBundle& bundle : installed) {
        present.insert(bundle.path);
        const auto it = known.find(bundle.path);
        if (it != known.end() && it->second.fingerprint == bundle.fingerprint) {
            result.catalog.insert(*it);
            continue;
        }
        changed.push_back(QFile::encodeName(bundle.path).toStdString());
        replacesPlugins = replacesPlugins || (it != known.end() && !it->second.plugins.empty());
    }
    std::vector<std::string> gone;
    for (const auto& [path, bundle] : known)
        if (!present.count(path)) {
            gone.push_back(QFile::encodeName(path).toStdString());
            replacesPlugins = replacesPlugins || !bundle.plugins.empty();
        }
    result.scannedBundles = changed.size();
    result.changed = !changed.empty() || !gone.empty();
    if (!result.changed)
        return result;

    auto scanned = lv2::scanBundles(changed, gone, freshWorld || replacesPlugins);
    for (const InstalledBundle& bundle : installed) {
        const auto it = scanned.find(QFile::encodeName(bundle.path).toStdString());
        if (it != scanned.end())
            result.catalog[bundle.path] = CatalogedBundle{bundle.fingerprint, std::move(it->second)};
    }
    return result;
}

std::vector<lv2::PluginDescription> pluginsIn(const BundleCatalog& catalog,
                                              const std::vector<InstalledBundle>& installed) {
    std::vector<lv2::PluginDescription> all;
    std::set<std::string> seen;
    for (const InstalledBundle& bundle : installed) {
        const auto it = catalog.find(bundle.path);
        if (it == catalog.end())
            continue;
        for (const lv2::PluginDescription& d : it->second.plugins)
            if (seen.insert(d.uri).second)
                all.push_back(d);
    }
    std::sort(all.begin(), all.end(), [](const auto& a, const auto& b) { return a.uri < b.uri; });
    return all;
}

} // namespace corvane
