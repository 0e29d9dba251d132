#include "setup/SetupFile.h"

#include "setup/FileTarget.h"

#include <QFile>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {
// Far beyond any setup (plug-in states included): a larger file is not one.
constexpr qint64 kLargestSetup = 16 * 1024 * 1024;
constexpr qint64 kPiece = 4096;

QString systemReason() { return QString::fromLocal8Bit(std::strerror(errno)); }

// Closes a descriptor whichever way the reading ends.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0)
            ::close(fd);
    }
};
} // namespace

std::variant<ReadSetup, SetupReadError> readSetupFile(const QString& path) {
    // Without O_NONBLOCK a pipe would wait here for a writer that may never
    // come; a regular file reads the same either way.
    const Descriptor file{::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0)
        return SetupReadError{QStringLiteral("%1 cannot be opened: %2").arg(path, systemReason())};
    // The descriptor's own kind and size: the path may have been replaced since.
    struct stat status = {};
    if (::fstat(file.fd, &status) != 0)
        return SetupReadError{QStringLiteral("%1 cannot be read: %2").arg(path, systemReason())};
    // A device or a pipe may never end (/dev/zero): only a file is a setup.
    if (const auto kind = nonFileKind(status.st_mode))
        return SetupReadError{QStringLiteral("%1 is %2, not a setup file").arg(path, *kind)};
    const SetupReadError tooLarge{
        QStringLiteral("%1 is too large to be a setup (over %2 MB)").arg(path, QString::number(kLargestSetup >> 20))};
    if (status.st_size > kLargestSetup)
        return tooLarge;
    // Read to its end, which may lie further than its size said (a file that
    // grows meanwhile), but never beyond one byte more than a setup may hold.
    QByteArray bytes(qint64(status.st_size) + 1, Qt::Uninitialized);
    qint64 size = 0;
    for (;;) {
        if (size == bytes.size()) {
            if (size > kLargestSetup)
                break;
            bytes.resize(std::min(2 * size, kLargestSetup + 1));
        }
        const ssize_t n = ::read(file.fd, bytes.data() + size, std::size_t(bytes.size() - size));
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return SetupReadError{QStringLiteral("%1 cannot be read: %2").arg(path, systemReason())};
        }
        size += n;
    }
    if (size > kLargestSetup)
        return tooLarge;
    bytes.truncate(size);
    auto read = parseSetup(bytes);
    if (auto* error = std::get_if<SetupReadError>(&read))
        error->message = QStringLiteral("%1: %2").arg(path, error->message);
    return read;
}

std::optional<QString> writeSetupFile(const QString& path, const Setup& setup, const SetupWriteWatcher& watch) {
    auto failed = [&path](const QString& why) {
        return QStringLiteral("The setup could not be saved to %1: %2").arg(path, why);
    };
    // The file is renamed into place: that must never replace a device or a pipe.
    if (const auto problem = fileTargetProblem(path, NonFileTarget::Refused))
        return failed(*problem);
    const QByteArray bytes = serializeSetup(setup);
    auto goOn = [&watch](SetupWriteStep step) { return !watch || watch(step); };
    const QString interrupted = QStringLiteral("the write was interrupted");

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return failed(file.errorString());
    if (!goOn(SetupWriteStep::Opened)) {
        file.cancelWriting();
        return failed(interrupted);
    }
    for (qint64 at = 0; at < bytes.size(); at += kPiece) {
        const qint64 n = std::min(kPiece, bytes.size() - at);
        if (file.write(bytes.constData() + at, n) != n)
            return failed(file.errorString());
        if (!goOn(SetupWriteStep::Wrote)) {
            file.cancelWriting();
            return failed(interrupted);
        }
    }
    if (!file.flush())
        return failed(file.errorString());
    if (!goOn(SetupWriteStep::Flushed)) {
        file.cancelWriting();
        return failed(interrupted);
    }
    // commit() syncs the temporary file to disk before it takes the name.
    if (!file.commit())
        return failed(file.errorString());
    goOn(SetupWriteStep::Committed);
    return std::nullopt;
}

} // namespace corvane
