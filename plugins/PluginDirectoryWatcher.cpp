#include "plugins/PluginDirectoryWatcher.h"

#include <QDir>
#include <QFileInfo>

namespace corvane {

PluginDirectoryWatcher::PluginDirectoryWatcher(std::function<void()> onChange) : onChange_(std::move(onChange)) {
    QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, &watcher_,
                     [this](const QString& path) { directoryChanged(path); });
}

bool PluginDirectoryWatcher::watch(const QStringList& lv2Directories) {
    watched_.clear();
    missing_.clear();
    missingParents_.clear();
    for (const QString& dir : lv2Directories) {
        QFileInfo info(dir);
        if (info.isDir()) {
            watched_ << dir;
            const QDir lv2Dir(dir);
            for (const QString& bundle : lv2Dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
                watched_ << lv2Dir.filePath(bundle);
            continue;
        }
        missing_ << dir;
        QString parent = info.absolutePath();
        while (!QFileInfo(parent).isDir() && parent != QLatin1String("/"))
            parent = QFileInfo(parent).absolutePath();
        missingParents_ << parent;
    }
    missingParents_.removeDuplicates();
    QStringList all = watched_ + missingParents_;
    all.removeDuplicates();
    // Only the difference: a directory watched anew would lose a change
    // already seen for it and not yet delivered.
    const QStringList before = watcher_.directories();
    QStringList stale;
    for (const QString& dir : before)
        if (!all.contains(dir))
            stale << dir;
    QStringList added;
    for (const QString& dir : std::as_const(all))
        if (!before.contains(dir))
            added << dir;
    if (!stale.isEmpty())
        watcher_.removePaths(stale);
    if (!added.isEmpty())
        watcher_.addPaths(added);
    return !added.isEmpty();
}

void PluginDirectoryWatcher::directoryChanged(const QString& path) {
    if (watched_.contains(path)) {
        onChange_();
        return;
    }
    // A parent of a missing LV2 directory changes for many unrelated reasons
    // (it may be the home directory); only its appearance counts.
    for (const QString& dir : std::as_const(missing_)) {
        if (QFileInfo(dir).isDir()) {
            onChange_();
            return;
        }
    }
}

} // namespace corvane
