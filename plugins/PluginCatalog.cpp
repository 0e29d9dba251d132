#include "plugins/PluginCatalog.h"

#include "platform/lv2/SearchPath.h"
#include "platform/system/Logging.h"
#include "platform/system/MainThread.h"
#include "plugins/BundleCatalog.h"
#include "plugins/CatalogCache.h"
#include "plugins/PluginDirectoryWatcher.h"

#include <QCollator>
#include <QHash>
#include <QCoreApplication>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>

#include <pthread.h>
#include <sched.h>

namespace corvane {

const QString PluginCatalog::unknownManufacturer = QStringLiteral("Unknown Manufacturer");

namespace {

// One background scan and whoever waits for it.
struct ScanJob {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;                     // guarded by mutex; once true, result is fixed
    QList<PluginComponent> result;
    std::vector<std::function<void()>> waiters; // main thread only

    bool isFinished() {
        std::lock_guard guard(mutex);
        return finished;
    }
};

// What the scans know of the installed bundles. Scans take turns on it.
struct KnownBundles {
    std::mutex mutex;
    BundleCatalog catalog;           // guarded by mutex
    std::atomic<bool> fromDisk{true}; // the next scan starts from the file, as a launch does
};

struct CatalogState {
    std::shared_ptr<ScanJob> cached;
    std::unique_ptr<PluginDirectoryWatcher> watcher;
    std::shared_ptr<KnownBundles> known = std::make_shared<KnownBundles>();
    bool rescanning = false;       // a rescan is at work
    bool rescanWanted = false;     // bundles changed while a scan was at work
    std::uint64_t changes = 0;     // for waiting until changes stop coming
};

CatalogState& state() {
    static CatalogState s;
    return s;
}

// Scans take seconds with a few hundred plug-ins installed: they get a thread
// of their own rather than holding one of the pool that device queries need.
// A scan still running when the program ends is waited for as the application
// object goes: past that, exit tears down the locale and logging it uses.
QThreadPool& scanPool() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool; // lives until exit
        p->setMaxThreadCount(1);
        qAddPostRoutine([] { scanPool().waitForDone(); });
        return p;
    }();
    return *pool;
}

// Rescans run while the audio may be playing: they get a thread of their own
// at idle priority, which gets a core only when nothing else wants it.
QThreadPool& rescanPool() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool; // lives until exit
        p->setMaxThreadCount(1);
        qAddPostRoutine([] { rescanPool().waitForDone(); });
        return p;
    }();
    return *pool;
}

void runAtIdlePriority() {
    sched_param param{};
    if (const int error = pthread_setschedparam(pthread_self(), SCHED_IDLE, &param))
        qCDebug(lcEngine, "The plug-in rescan runs at normal priority: %s", std::strerror(error));
}

// A saved preset or an installed package arrives as a burst of changes; one
// rescan once they stop reads the bundles whole.
constexpr auto kQuietBeforeRescan = std::chrono::milliseconds(300);

// The effects of the installed bundles, reading only those the catalog does
// not know as they are. The first scan of a run (or after invalidate()) starts
// from the catalog kept on disk and reads the LV2 world anew if it reads any
// bundle, as a full scan did.
QList<PluginComponent> refreshedEffects(KnownBundles& known) {
    std::lock_guard guard(known.mutex);
    const auto installed = installedBundles(lv2::searchDirectories());
    const QString file = catalogCachePath();
    const bool launching = known.fromDisk.exchange(false);
    bool rewrite = false;
    if (launching) {
        QString distrust;
        known.catalog = readCatalogCache(file, distrust);
        if (!distrust.isEmpty()) {
            qCWarning(lcEngine, "The plug-in catalog kept in %s is read anew from the bundles: %s",
                      qUtf8Printable(file), qUtf8Printable(distrust));
            rewrite = true;
        }
    }
    CatalogRefresh refresh = refreshCatalog(known.catalog, installed, launching);
    if (launching || refresh.changed)
        qCInfo(lcEngine, "Plug-in catalog: %zu of %zu bundles read, the others known unchanged",
               refresh.scannedBundles, installed.size());
    known.catalog = std::move(refresh.catalog);
    if (refresh.changed || rewrite) {
        QString error;
        if (!writeCatalogCache(file, known.catalog, error))
            qCWarning(lcEngine, "The plug-in catalog cannot be kept in %s: %s", qUtf8Printable(file),
                      qUtf8Printable(error));
    }
    return PluginCatalog::effectsFrom(pluginsIn(known.catalog, installed));
}

void finish(ScanJob& job, QList<PluginComponent> list) {
    {
        std::lock_guard guard(job.mutex);
        job.result = std::move(list);
        job.finished = true;
    }
    job.done.notify_all();
}

void bundlesChanged();

// Reads the changed bundles while the list before them stays in use: nobody
// ever waits for a rescan. Never runs beside another scan, nor before a first
// scan's waiters (a start among them) have their list.
void startRescan() {
    CatalogState& s = state();
    if (!s.cached)
        return; // nothing listed yet: the next request reads what is there
    if (s.rescanning || !s.cached->isFinished() || !s.cached->waiters.empty()) {
        s.rescanWanted = true;
        return;
    }
    s.rescanning = true;
    auto job = std::make_shared<ScanJob>();
    rescanPool().start([job, basis = s.cached, known = s.known] {
        runAtIdlePriority();
        finish(*job, refreshedEffects(*known));
        postToMain([job, basis] {
            CatalogState& now = state();
            now.rescanning = false;
            if (now.cached == basis)
                now.cached = job;
            // A bundle still being written when it was read is read again once
            // its own changes are seen; one rescan more finds nothing otherwise.
            const bool unseen = now.watcher && now.watcher->watch(lv2::searchDirectories());
            if (std::exchange(now.rescanWanted, false) || unseen)
                bundlesChanged();
        });
    });
}

void bundlesChanged() {
    const std::uint64_t change = ++state().changes;
    QTimer::singleShot(kQuietBeforeRescan, [change] {
        if (change == state().changes)
            startRescan();
    });
}

QCollator nameCollator() {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

void sortByName(QList<PluginComponent>& list) {
    const QCollator collator = nameCollator();
    std::stable_sort(list.begin(), list.end(), [&](const PluginComponent& a, const PluginComponent& b) {
        return collator.compare(a.name, b.name) < 0;
    });
}

std::shared_ptr<ScanJob> cachedJob() {
    CatalogState& s = state();
    if (s.cached)
        return s.cached;
    if (!s.watcher)
        s.watcher = std::make_unique<PluginDirectoryWatcher>(&bundlesChanged);
    s.watcher->watch(lv2::searchDirectories());
    auto job = std::make_shared<ScanJob>();
    s.cached = job;
    scanPool().start([job, known = s.known] {
        finish(*job, refreshedEffects(*known));
        postToMain([job] {
            auto waiters = std::move(job->waiters);
            for (auto& wake : waiters)
                wake();
            if (std::exchange(state().rescanWanted, false))
                bundlesChanged();
        });
    });
    return job;
}

// Suspends a main-thread task until the scan is done, or until it is cancelled.
class ScanAwaiter {
public:
    explicit ScanAwaiter(std::shared_ptr<ScanJob> job) : job_(std::move(job)) {}
    bool await_ready() { return job_->isFinished(); }
    template <detail::TaskPromise P>
    bool await_suspend(std::coroutine_handle<P> h) {
        wait_ = std::make_shared<Wait>();
        wait_->h = h;
        wait_->task = h.promise().task;
        if (wait_->task && wait_->task->isCancelled()) {
            wait_->cancelled = true;
            return false;
        }
        if (wait_->task) {
            wait_->task->setCancelHook([w = wait_] {
                postToMain([w] { w->resume(true); });
            });
        }
        job_->waiters.push_back([w = wait_] { w->resume(false); });
        return true;
    }
    QList<PluginComponent> await_resume() {
        if (wait_ && wait_->cancelled)
            return {};
        std::lock_guard guard(job_->mutex);
        return job_->result;
    }

private:
    struct Wait {
        std::coroutine_handle<> h;
        std::shared_ptr<TaskState> task;
        bool resumed = false;
        bool cancelled = false;
        void resume(bool byCancel) {
            if (resumed)
                return;
            resumed = true;
            cancelled = byCancel;
            if (task)
                task->clearCancelHook();
            h.resume();
        }
    };
    std::shared_ptr<ScanJob> job_;
    std::shared_ptr<Wait> wait_;
};

} // namespace

void PluginCatalog::startScan() { cachedJob(); }

bool PluginCatalog::isScanning() {
    return scanPool().activeThreadCount() > 0 || rescanPool().activeThreadCount() > 0;
}

Async<QList<PluginComponent>> PluginCatalog::components() {
    std::shared_ptr<ScanJob> job = cachedJob();
    co_return co_await ScanAwaiter(job);
}

std::optional<QList<PluginComponent>> PluginCatalog::waitForComponents(std::chrono::milliseconds timeout) {
    std::shared_ptr<ScanJob> job = cachedJob();
    std::unique_lock lock(job->mutex);
    if (!job->done.wait_for(lock, timeout, [&] { return job->finished; }))
        return std::nullopt;
    return job->result;
}

void PluginCatalog::invalidate() {
    state().cached.reset();
    state().known->fromDisk = true;
}

bool PluginCatalog::hasCachedScan() { return state().cached != nullptr; }

QList<PluginComponent> PluginCatalog::effectsFrom(const std::vector<lv2::PluginDescription>& scan) {
    QList<PluginComponent> plain;
    QList<PluginComponent> withMidi;
    for (const lv2::PluginDescription& d : scan) {
        if (!d.isEffect)
            continue;
        PluginComponent c{QString::fromStdString(d.uri), QString::fromStdString(d.name),
                          QString::fromStdString(d.author), d.takesMidi};
        (d.takesMidi ? withMidi : plain).append(std::move(c));
    }
    plain.append(withMidi);
    sortByName(plain);
    return plain;
}

QList<PluginComponent> PluginCatalog::filter(const QList<PluginComponent>& list, const QString& query) {
    if (query.isEmpty())
        return list;
    QList<PluginComponent> kept;
    for (const PluginComponent& c : list) {
        if (c.name.contains(query, Qt::CaseInsensitive) || c.manufacturer.contains(query, Qt::CaseInsensitive))
            kept.append(c);
    }
    return kept;
}

QList<PluginManufacturerGroup> PluginCatalog::groups(const QList<PluginComponent>& list) {
    QList<PluginManufacturerGroup> result;
    QHash<QString, qsizetype> indexOf;
    for (const PluginComponent& c : list) {
        const QString key = c.manufacturer.isEmpty() ? unknownManufacturer : c.manufacturer;
        auto it = indexOf.find(key);
        if (it == indexOf.end()) {
            it = indexOf.insert(key, result.size());
            result.append({key, {}});
        }
        result[*it].components.append(c);
    }
    const QCollator collator = nameCollator();
    std::stable_sort(result.begin(), result.end(), [&](const PluginManufacturerGroup& a, const PluginManufacturerGroup& b) {
        return collator.compare(a.manufacturer, b.manufacturer) < 0;
    });
    for (PluginManufacturerGroup& g : result)
        sortByName(g.components);
    return result;
}

} // namespace corvane
