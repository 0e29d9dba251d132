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
    for (const InstalledBundle& bundle : installed) {
        const auto it = known.find(bundle.path);
        if (it != known.end() && it->second.fingerprint == bundle.fingerprint)
            result.catalog.insert(*it);
        else
            changed.push_back(QFile::encodeName(bundle.path).toStdString());
    }
    std::vector<std::string> gone;
    for (const auto& [path, _] : known)
        if (!result.catalog.count(path) &&
            std::none_of(installed.begin(), installed.end(), [&](const InstalledBundle& b) { return b.path == path; }))
            gone.push_back(QFile::encodeName(path).toStdString());
    result.scannedBundles = changed.size();
    result.changed = !changed.empty() || !gone.empty();
    if (!result.changed)
        return result;

    auto scanned = lv2::scanBundles(changed, gone, freshWorld);
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
