#pragma once
// Where LV2 bundles are looked for. The catalog watches exactly these
// directories and the lilv world loads exactly these, so what is listed and
// what can be loaded never disagree.

#include <QStringList>

namespace corvane::lv2 {

// LV2_PATH (colon-separated) when set, else the user's ~/.lv2, /usr/local/lib/lv2,
// /usr/lib/lv2 and the multiarch library's lv2 directory. Directories that do
// not exist are included: a watcher may want to see them appear. Any thread.
QStringList searchDirectories();

// The same list joined the way LV2_PATH spells it.
QString searchPathString();

} // namespace corvane::lv2
