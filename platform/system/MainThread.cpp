#include "platform/system/MainThread.h"

#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>

namespace corvane {

void postToMain(std::function<void()> fn) {
    auto* app = QCoreApplication::instance();
    if (!app)
        return; // shutting down: nothing is left to run it
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

bool isMainThread() {
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

QThreadPool& backgroundPool() {
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool; // lives until exit; threads may still be finishing a query
        p->setMaxThreadCount(8);
        p->setExpiryTimeout(30000);
        return p;
    }();
    return *pool;
}

} // namespace corvane
