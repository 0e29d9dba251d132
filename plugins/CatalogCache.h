#pragma once
// The catalog kept on disk between runs, so a launch with the same plug-ins
// installed reads no bundle. A file that is not exactly what this version
// writes is not trusted: the catalog is then read from the bundles again.

#include "plugins/BundleCatalog.h"

#include <QString>

namespace corvane {

// $XDG_CACHE_HOME/corvane/plugins.json (~/.cache when unset). Any thread.
QString catalogCachePath();

// The catalog in `path`; empty when there is none. When the file is there but
// cannot be trusted (unreadable, damaged, another version, too large, not a
// regular file), also empty, with why in `distrust`. Any thread.
BundleCatalog readCatalogCache(const QString& path, QString& distrust);

// Replaces the file at once or not at all. False with why in `error`. Any thread.
bool writeCatalogCache(const QString& path, const BundleCatalog& catalog, QString& error);

} // namespace corvane
