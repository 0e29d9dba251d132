#pragma once
// Notices changes to the installed set of LV2 bundles: a bundle added to or
// removed from an LV2 directory, a file changed inside a bundle, or a missing
// LV2 directory appearing. Main thread.

#include <QFileSystemWatcher>
#include <QStringList>

#include <functional>

namespace corvane {

class PluginDirectoryWatcher {
public:
    explicit PluginDirectoryWatcher(std::function<void()> onChange);

    // Replaces what is watched: these LV2 directories and the bundles now in
    // them. True when it watches a directory it did not before: what was
    // written there until now went unseen.
    bool watch(const QStringList& lv2Directories);

private:
    void directoryChanged(const QString& path);

    QFileSystemWatcher watcher_;
    QStringList watched_;
    QStringList missing_;        // LV2 directories that do not exist yet
    QStringList missingParents_; // existing ancestors watched for them
    std::function<void()> onChange_;
};

} // namespace corvane
