#include "tests/support/LogCapture.h"

#include <cstdio>
#include <mutex>
#include <vector>

namespace corvane::test {

namespace {
struct Entry {
    QString category;
    QtMsgType type;
    QString text;
};

std::mutex mutex;
std::vector<Entry> captured;
QtMessageHandler previous = nullptr;
bool echoing = false;

void handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const char* category = context.category ? context.category : "default";
    std::lock_guard lock(mutex);
    captured.push_back({QString::fromLatin1(category), type, message});
    if (echoing)
        std::fprintf(stderr, "%s: %s\n", category, qUtf8Printable(message));
}

// The texts of the messages `keep` accepts, in the order they came.
template <typename Keep>
QStringList texts(Keep keep) {
    std::lock_guard lock(mutex);
    QStringList result;
    for (const auto& e : captured)
        if (keep(e))
            result.append(e.text);
    return result;
}
} // namespace

LogCapture::LogCapture(bool echo) {
    clear();
    echoing = echo;
    previous = qInstallMessageHandler(handler);
}

LogCapture::~LogCapture() { qInstallMessageHandler(previous); }

QStringList LogCapture::messages() const { return texts([](const Entry&) { return true; }); }

QStringList LogCapture::messagesIn(const char* category, QtMsgType type) const {
    return texts([&](const Entry& e) { return e.type == type && e.category == QLatin1String(category); });
}

bool LogCapture::contains(const QString& fragment) const { return count(fragment) > 0; }

int LogCapture::count(const QString& fragment) const { return int(messages().filter(fragment).size()); }

void LogCapture::clear() {
    std::lock_guard lock(mutex);
    captured.clear();
}

} // namespace corvane::test
