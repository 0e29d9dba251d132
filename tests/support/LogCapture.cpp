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
} // namespace

LogCapture::LogCapture(bool echo) {
    clear();
    echoing = echo;
    previous = qInstallMessageHandler(handler);
}

LogCapture::~LogCapture() { qInstallMessageHandler(previous); }

QStringList LogCapture::messages() const {
    std::lock_guard lock(mutex);
    QStringList texts;
    for (const auto& e : captured)
        texts.append(e.text);
    return texts;
}

QStringList LogCapture::messagesIn(const char* category, QtMsgType type) const {
    std::lock_guard lock(mutex);
    QStringList texts;
    for (const auto& e : captured)
        if (e.type == type && e.category == QLatin1String(category))
            texts.append(e.text);
    return texts;
}

bool LogCapture::contains(const QString& fragment) const { return count(fragment) > 0; }

int LogCapture::count(const QString& fragment) const {
    std::lock_guard lock(mutex);
    int n = 0;
    for (const auto& e : captured)
        n += e.text.contains(fragment) ? 1 : 0;
    return n;
}

void LogCapture::clear() {
    std::lock_guard lock(mutex);
    captured.clear();
}

} // namespace corvane::test
