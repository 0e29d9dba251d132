#include "setup/SetupKeeper.h"

#include "engine/AudioEngineManager.h"
#include "engine/SetupExchange.h"
#include "platform/system/Logging.h"
#include "setup/SetupFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

namespace corvane {

SetupKeeper::SetupKeeper(AudioEngineManager& manager, Clock& clock, QObject* parent)
    : QObject(parent), setups_(manager.setups()), clock_(clock) {
    watch();
}

SetupKeeper::~SetupKeeper() {
    if (rememberTimer_)
        clock_.cancelTimer(*rememberTimer_);
}

QString SetupKeeper::lastSetupPath() {
    return QFileInfo(QSettings().fileName()).absolutePath() + QStringLiteral("/last-setup.json");
}

QString SetupKeeper::name() const {
    if (filePath_.isEmpty())
        return QStringLiteral("Untitled");
    const QFileInfo info(filePath_);
    return info.suffix() == QLatin1String("json") ? info.completeBaseName() : info.fileName();
}

void SetupKeeper::watch() {
    connect(&setups_, &SetupExchange::edited, this, [this] {
        setDirty(true);
        rememberSoon();
    });
    connect(&setups_, &SetupExchange::moved, this, &SetupKeeper::rememberSoon);
}

void SetupKeeper::setDirty(bool dirty) {
    if (dirty_ == dirty)
        return;
    dirty_ = dirty;
    emit isDirtyChanged();
}

void SetupKeeper::setFilePath(const QString& path) {
    if (filePath_ == path)
        return;
    filePath_ = path;
    if (remembering_)
        QSettings().setValue(kFileKey, path);
    emit fileChanged();
}

void SetupKeeper::setProblem(const QString& problem) {
    if (problem_ == problem)
        return;
    problem_ = problem;
    emit problemChanged();
}

void SetupKeeper::setManagedBySession(bool managed) {
    if (remembering_ != managed)
        return;
    remembering_ = !managed;
    if (!remembering_ && rememberTimer_) {
        clock_.cancelTimer(*rememberTimer_);
        rememberTimer_.reset();
    }
    emit managedBySessionChanged();
}

void SetupKeeper::rememberSoon() {
    if (!remembering_)
        return;
    if (rememberTimer_)
        clock_.cancelTimer(*rememberTimer_);
    rememberTimer_ = clock_.callAt(clock_.now() + kRememberDelay, [this] {
        rememberTimer_.reset();
        rememberNow();
    });
}

bool SetupKeeper::rememberNow() {
    if (!remembering_)
        return true;
    if (rememberTimer_) {
        clock_.cancelTimer(*rememberTimer_);
        rememberTimer_.reset();
    }
    // The settings' folder may not exist yet on a first run.
    QDir().mkpath(QFileInfo(lastSetupPath()).absolutePath());
    if (auto problem = writeSetupFile(lastSetupPath(), current())) {
        qCWarning(lcSession, "%s", qUtf8Printable(*problem));
        return false;
    }
    QSettings().setValue(kDirtyKey, dirty_);
    return true;
}

Setup SetupKeeper::current() { return setups_.capture(); }

QString SetupKeeper::restoringMarkerPath() { return lastSetupPath() + QStringLiteral(".restoring"); }

bool SetupKeeper::restoreLast() {
    const QString path = lastSetupPath();
    const QString marker = restoringMarkerPath();
    if (QFileInfo::exists(marker)) {
        // The last launch died while it gave this setup to the strips: it
        // would most likely die again. Set aside, the file stays for a look.
        if (!QFileInfo::exists(path)) {
            QFile::remove(marker);
            return false;
        }
        const QString failed = path + QStringLiteral(".failed");
        QFile::remove(failed);
        QString what = QStringLiteral("it was set aside as %1").arg(failed);
        if (!QFile::rename(path, failed))
            what = QFile::remove(path) ? QStringLiteral("it was removed")
                                       : QStringLiteral("it cannot be set aside and is passed over");
        // A file that stays keeps its marker, so that no launch tries it.
        if (!QFileInfo::exists(path))
            QFile::remove(marker);
        const QString why =
            QStringLiteral("The last setup did not finish restoring when Corvane last started: %1, and the strips "
                           "start fresh.")
                .arg(what);
        qCWarning(lcSession, "%s", qUtf8Printable(why));
        setups_.showNotes({why});
        return false;
    }
    if (!QFileInfo::exists(path))
        return false;
    // Left until the setup is given whole; found at the next launch, it says
    // this one never got there.
    QFile markerFile(marker);
    if (!markerFile.open(QIODevice::WriteOnly))
        qCWarning(lcSession, "%s cannot be made: %s", qUtf8Printable(marker), qUtf8Printable(markerFile.errorString()));
    markerFile.close();
    auto read = readSetupFile(path);
    if (auto* error = std::get_if<SetupReadError>(&read)) {
        QFile::remove(marker);
        qCWarning(lcSession, "The last setup could not be restored: %s", qUtf8Printable(error->message));
        setups_.showNotes({QStringLiteral("The last setup could not be restored: %1").arg(error->message)});
        return false;
    }
    give(std::get<ReadSetup>(read));
    QFile::remove(marker);
    const QString file = QSettings().value(kFileKey).toString();
    filePath_ = QFileInfo::exists(file) ? file : QString();
    emit fileChanged();
    // The strips are as they were left, saved or not.
    setDirty(QSettings().value(kDirtyKey, false).toBool());
    return true;
}

void SetupKeeper::give(const ReadSetup& read) { setups_.give(read.setup, readingNotes(read)); }

bool SetupKeeper::openPath(const QString& path, bool createIfMissing) {
    if (createIfMissing && !QFileInfo::exists(path)) {
        // A new setup: fresh strips, the device as it is. The file is made
        // before the strips are cleared: a place that cannot take it leaves
        // the work as it was.
        ReadSetup fresh;
        const Setup now = current();
        fresh.setup.deviceUid = now.deviceUid;
        fresh.setup.deviceName = now.deviceName;
        if (auto problem = writeSetupFile(path, fresh.setup)) {
            setProblem(*problem);
            return false;
        }
        give(fresh);
        setFilePath(path);
        setProblem({});
        if (!savePath(path))
            return false;
        rememberSoon();
        return true;
    }
    auto read = readSetupFile(path);
    if (auto* error = std::get_if<SetupReadError>(&read)) {
        setProblem(QStringLiteral("The setup could not be opened: %1").arg(error->message));
        return false;
    }
    give(std::get<ReadSetup>(read));
    setFilePath(path);
    setDirty(false);
    setProblem({});
    rememberSoon();
    return true;
}

bool SetupKeeper::savePath(const QString& path) {
    if (auto problem = writeSetupFile(path, current())) {
        setProblem(*problem);
        return false;
    }
    setFilePath(path);
    setDirty(false);
    setProblem({});
    rememberSoon();
    return true;
}

QUrl SetupKeeper::folder() const {
    const QString folder = hasFile() ? QFileInfo(filePath_).absolutePath() : QDir::homePath();
    return QUrl::fromLocalFile(folder);
}

bool SetupKeeper::open(const QUrl& file) { return openPath(file.toLocalFile(), false); }

bool SetupKeeper::save() { return hasFile() && savePath(filePath_); }

bool SetupKeeper::saveAs(const QUrl& file) { return savePath(file.toLocalFile()); }

} // namespace corvane
