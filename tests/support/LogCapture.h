#pragma once
// Collects the messages logged while it lives, so tests can check log lines.

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace corvane::test {

class LogCapture {
public:
    // With `echo`, each message is also written to stderr as Qt would write it
    // ("category: message"), for tests of what reaches the stream.
    explicit LogCapture(bool echo = false);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList messages() const;
    // The messages of one category logged at one level.
    QStringList messagesIn(const char* category, QtMsgType type) const;
    bool contains(const QString& fragment) const;
    int count(const QString& fragment) const;
    void clear();
};

} // namespace corvane::test
