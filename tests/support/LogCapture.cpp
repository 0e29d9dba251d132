#include "tests/support/LogCapture.h"

#include <QtGlobal>
#include <mutex>

namespace corvane::test {

namespace {
std::mutex mutex;
QStringList captured;
QtMessageHandler previous = nullptr;

void handler(QtMsgType, const QMessageLogContext&, const QString& message) {
    std::lock_guard lock(mutex);
    captured.append(message);
}
} // namespace

LogCapture::LogCapture() {
    clear();
    previous = qInstallMessageHandler(handler);
}

LogCapture::~LogCapture() { qInstallMessageHandler(previous); }

QStringList LogCapture::messages() const {
    std::lock_guard lock(mutex);
    return captured;
}

bool LogCapture::contains(const QString& fragment) const { return count(fragment) > 0; }

int LogCapture::count(const QString& fragment) const {
    std::lock_guard lock(mutex);
    int n = 0;
    for (const auto& m : captured)
        n += m.contains(fragment) ? 1 : 0;
    return n;
}

void LogCapture::clear() {
    std::lock_guard lock(mutex);
    captured.clear();
}

} // namespace corvane::test
