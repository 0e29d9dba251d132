#include "setup/FileTarget.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

namespace corvane {

std::optional<QString> nonFileKind(unsigned mode) {
    if (S_ISREG(mode))
        return std::nullopt;
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a pipe");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a file");
}

std::optional<QString> fileTargetProblem(const QString& path, NonFileTarget nonFile) {
    const QFileInfo file(path);
    if (file.isDir())
        return QStringLiteral("it is a folder");
    const QFileInfo folder(file.absolutePath());
    if (!folder.isDir())
        return (folder.exists() ? QStringLiteral("%1 is not a folder") : QStringLiteral("the folder %1 does not exist"))
            .arg(QDir::toNativeSeparators(folder.filePath()));
    // stat() follows a link: what matters is what the write would replace.
    struct stat target = {};
    const bool exists = ::stat(QFile::encodeName(path).constData(), &target) == 0;
    if (exists && nonFile == NonFileTarget::Refused)
        if (const auto kind = nonFileKind(target.st_mode))
            return QStringLiteral("it is %1, not a file").arg(*kind);
    if (exists && !file.isWritable())
        return QStringLiteral("the file is not writable");
    // A regular file is replaced through a new file beside it.
    if ((!exists || S_ISREG(target.st_mode)) && !folder.isWritable())
        return QStringLiteral("the folder %1 is not writable").arg(QDir::toNativeSeparators(folder.filePath()));
    return std::nullopt;
}

} // namespace corvane
