#pragma once
// The installed effects: a process-wide scan on a background thread, kept on
// disk between runs so that a launch reads only bundles that changed, and
// followed by a rescan of just the changed bundles when the LV2 directories
// change; plus the filtering and grouping the plug-in picker redoes on every
// redraw.
//
// Everything here is main-thread only, except the static list helpers, which
// are pure.

#include "platform/lv2/PluginScan.h"
#include "platform/system/Task.h"
#include "plugins/PluginComponent.h"
#include "plugins/PluginManufacturerGroup.h"

#include <QList>
#include <QString>

#include <chrono>
#include <optional>
#include <vector>

namespace corvane {

class PluginCatalog {
public:
    // Starts a scan unless one is cached (running or finished). Fire and forget.
    static void startScan();

    // The cached list, scanning first when there is none. A task cancelled while
    // it waits resumes at once with an empty list (check currentTaskCancelled()).
    static Async<QList<PluginComponent>> components();

    // Blocks the caller until the list is ready, at most `timeout`; for the
    // command line, which has no event loop to wait in.
    static std::optional<QList<PluginComponent>> waitForComponents(std::chrono::milliseconds timeout);

    // Drops the cached scan without starting a new one; the next starts from the
    // catalog on disk, as a launch does. Whoever already awaits the dropped scan
    // still gets it. (A change in the LV2 directories does not drop the list: it
    // is replaced once the changed bundles are read.)
    static void invalidate();
    static bool hasCachedScan();
    // Whether a scan (cached or dropped) is still at work on its thread.
    static bool isScanning();

    // Effects out of a scan: plain effects first, then those that also take MIDI,
    // the whole list sorted by name (stable, case-insensitive, locale-aware).
    static QList<PluginComponent> effectsFrom(const std::vector<lv2::PluginDescription>& scan);

    // Empty query: the list itself. Otherwise, in list order, the components
    // whose name contains the query (any letter case), or failing that whose
    // manufacturer does.
    static QList<PluginComponent> filter(const QList<PluginComponent>& list, const QString& query);

    // One group per manufacturer ("Unknown Manufacturer" when empty), groups and
    // their components sorted by name with the same comparison as the scan.
    static QList<PluginManufacturerGroup> groups(const QList<PluginComponent>& list);

    static const QString unknownManufacturer;
};

} // namespace corvane
