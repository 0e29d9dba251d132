#include "plugins/PluginCatalog.h"

#include "platform/lv2/SearchPath.h"
#include "platform/system/MainThread.h"
#include "plugins/PluginDirectoryWatcher.h"

#include <QCollator>
#include <QHash>
#include <QCoreApplication>
#include <QThreadPool>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>

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

struct CatalogState {
    std::shared_ptr<ScanJob> cached;
    std::unique_ptr<PluginDirectoryWatcher> watcher;
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
        s.watcher = std::make_unique<PluginDirectoryWatcher>([] { PluginCatalog::invalidate(); });
    s.watcher->watch(lv2::searchDirectories());
    auto job = std::make_shared<ScanJob>();
    s.cached = job;
    scanPool().start([job] {
        QList<PluginComponent> list = PluginCatalog::effectsFrom(lv2::scanInstalledPlugins());
        {
            std::lock_guard guard(job->mutex);
            job->result = std::move(list);
            job->finished = true;
        }
        job->done.notify_all();
        postToMain([job] {
            auto waiters = std::move(job->waiters);
            for (auto& wake : waiters)
                wake();
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

bool PluginCatalog::isScanning() { return scanPool().activeThreadCount() > 0; }

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

void PluginCatalog::invalidate() { state().cached.reset(); }

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
