#include "app/InterruptedReport.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace corvane {

namespace {

// All of `text` to `fd`, waiting for room at most a moment each time: a
// reader that stopped reading must not keep the process from ending.
void writeWithin(int fd, const std::string& text) noexcept {
    std::size_t done = 0;
    while (done < text.size()) {
        pollfd room{fd, POLLOUT, 0};
        if (::poll(&room, 1, 200) <= 0)
            return;
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0 && errno != EINTR && errno != EAGAIN)
            return;
        if (written > 0)
            done += std::size_t(written);
    }
}

} // namespace

const QString InterruptedReport::kError =
    QStringLiteral("The run was interrupted and did not end in time - nothing more is known of it.");

InterruptedReport::InterruptedReport(const QString& reportPath, const QString& deviceUid) {
    errorLine_ = (QStringLiteral("corvane: ") + kError + QLatin1Char('\n')).toStdString();
    if (reportPath.isEmpty())
        return;
    const QJsonObject report{{QStringLiteral("device"), deviceUid.isEmpty() ? QJsonValue() : QJsonValue(deviceUid)},
                             {QStringLiteral("interrupted"), true},
                             {QStringLiteral("error"), kError},
                             {QStringLiteral("warnings"), QJsonArray()},
                             {QStringLiteral("strips"), QJsonArray()}};
    json_ = QJsonDocument(report).toJson(QJsonDocument::Indented).toStdString();
    const QFileInfo file(reportPath);
    path_ = QFile::encodeName(reportPath).toStdString();
    if (reportPath == QLatin1String("-")) {
        target_ = Target::StandardOutput;
    } else if (file.exists() && !file.isFile()) {
        target_ = Target::InPlace;
    } else {
        target_ = Target::Replace;
        temporaryPath_ = QFile::encodeName(QStringLiteral("%1/.%2.interrupted-%3")
                                               .arg(file.absolutePath(), file.fileName())
                                               .arg(QCoreApplication::applicationPid()))
                             .toStdString();
    }
}

void InterruptedReport::write() const noexcept {
    writeWithin(STDERR_FILENO, errorLine_);
    switch (target_) {
    case Target::None:
        return;
    case Target::StandardOutput:
        writeWithin(STDOUT_FILENO, json_);
        return;
    case Target::InPlace: {
        // Without a reader a FIFO refuses a non-blocking open (ENXIO).
        const int fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            writeWithin(fd, json_);
            ::close(fd);
        }
        return;
    }
    case Target::Replace: {
        const int fd = ::open(temporaryPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0)
            return;
        const bool whole = ::write(fd, json_.data(), json_.size()) == ssize_t(json_.size());
        if (::close(fd) == 0 && whole && ::rename(temporaryPath_.c_str(), path_.c_str()) == 0)
            return;
        ::unlink(temporaryPath_.c_str());
        return;
    }
    }
}

} // namespace corvane
