#include "plugins/PluginDirectoryWatcher.h"

#include <QDir>
#include <QFileInfo>

namespace corvane {

PluginDirectoryWatcher::PluginDirectoryWatcher(std::function<void()> onChange) : onChange_(std::move(onChange)) {
    QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, &watcher_,
                     [this](const QString& path) { directoryChanged(path); });
}

void PluginDirectoryWatcher::watch(const QStringList& lv2Directories) {
    if (!watcher_.directories().isEmpty())
        watcher_.removePaths(watcher_.directories());
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
    if (!all.isEmpty())
        watcher_.addPaths(all);
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
