#include "setup/SetupFile.h"

#include <QFile>
#include <QSaveFile>

namespace corvane {

namespace {
// Far beyond any setup (plug-in states included): a larger file is not one.
constexpr qint64 kLargestSetup = 64 * 1024 * 1024;
constexpr qint64 kPiece = 4096;
} // namespace

std::variant<ReadSetup, SetupReadError> readSetupFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return SetupReadError{QStringLiteral("%1 cannot be opened: %2").arg(path, file.errorString())};
    if (file.size() > kLargestSetup)
        return SetupReadError{QStringLiteral("%1 is too large to be a setup").arg(path)};
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return SetupReadError{QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString())};
    auto read = parseSetup(bytes);
    if (auto* error = std::get_if<SetupReadError>(&read))
        error->message = QStringLiteral("%1: %2").arg(path, error->message);
    return read;
}

std::optional<QString> writeSetupFile(const QString& path, const Setup& setup, const SetupWriteWatcher& watch) {
    const QByteArray bytes = serializeSetup(setup);
    auto failed = [&path](const QString& why) {
        return QStringLiteral("The setup could not be saved to %1: %2").arg(path, why);
    };
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
