#include "app/ReportFile.h"

#include "setup/FileTarget.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace corvane {

namespace {

QString systemReason() { return QString::fromLocal8Bit(std::strerror(errno)); }

} // namespace

std::optional<QString> reportPathProblem(const QString& path) {
    if (path == QLatin1String("-"))
        return std::nullopt;
    return fileTargetProblem(path, NonFileTarget::WrittenInPlace);
}

bool writeAll(std::FILE* stream, const QByteArray& bytes) {
    const bool written = std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream) == std::size_t(bytes.size());
    return std::fflush(stream) == 0 && written && !std::ferror(stream);
}

std::optional<QString> writeReport(const QString& path, const QByteArray& bytes) {
    if (path == QLatin1String("-")) {
        if (!writeAll(stdout, bytes))
            return systemReason();
        return std::nullopt;
    }
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        // A device or a pipe (/dev/stdout, a shell's process substitution):
        // there is no file to replace, and renaming over it would be wrong.
        QFile device(path);
        if (!device.open(QIODevice::WriteOnly | QIODevice::Unbuffered) || device.write(bytes) != bytes.size())
            return device.errorString();
        device.close();
        return std::nullopt;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return file.errorString();
    return std::nullopt;
}

} // namespace corvane
