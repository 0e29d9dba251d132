#include "tests/support/EventLoop.h"

#include <QCoreApplication>
#include <QAbstractEventDispatcher>
#include <QDeadlineTimer>
#include <QThread>

namespace corvane::test {

void drainEvents() {
    // A posted event may post another; a bounded number of passes keeps a
    // runaway loop from hanging the test.
    for (int pass = 0; pass < 1000; ++pass) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents();
        if (!QCoreApplication::instance()->thread()->eventDispatcher()->processEvents(QEventLoop::AllEvents))
            return;
    }
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    drainEvents();
    return true;
}

} // namespace corvane::test
