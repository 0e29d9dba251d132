#include "setup/SetupKeeper.h"

#include "engine/AudioEngineManager.h"
#include "platform/system/Logging.h"
#include "setup/EngineSetup.h"
#include "setup/SetupFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace corvane {

SetupKeeper::SetupKeeper(AudioEngineManager& manager, Clock& clock, QObject* parent)
    : QObject(parent), manager_(manager), clock_(clock) {
    noteDevice();
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
    for (ChannelSlot* slot : manager_.channels()) {
        for (auto signal : {&ChannelSlot::componentChanged, &ChannelSlot::bypassChanged,
                            &ChannelSlot::inputChannelChanged, &ChannelSlot::outputChannelChanged,
                            &ChannelSlot::inputStereoChanged, &ChannelSlot::outputStereoChanged})
            connect(slot, signal, this, &SetupKeeper::changed);
    }
    connect(&manager_, &AudioEngineManager::sampleRateChanged, this, &SetupKeeper::changed);
    connect(&manager_, &AudioEngineManager::bufferFramesChanged, this, [this] {
        // The device's own size, taken as the request, is no choice of the user's.
        if (manager_.bufferFramesChosen())
            changed();
    });
    connect(&manager_, &AudioEngineManager::selectedDeviceChanged, this, [this] {
        // A device that went away is still the one wanted; one that came
        // back, or was chosen for the setup, changes nothing.
        const auto& device = manager_.selectedDevice();
        if (!device || (device->uid == deviceUid_ && device->name == deviceName_))
            return;
        const bool chosenByUser = !applying_ && !setupDevicePending(manager_);
        noteDevice();
        if (chosenByUser)
            changed();
        else
            rememberSoon();
    });
    // A stop keeps the plug-ins' settings, which may have been changed in
    // their editors meanwhile.
    connect(&manager_, &AudioEngineManager::isRunningChanged, this, [this] {
        if (!manager_.isRunning())
            rememberSoon();
    });
}

void SetupKeeper::noteDevice() {
    if (const auto& device = manager_.selectedDevice()) {
        deviceUid_ = device->uid;
        deviceName_ = device->name;
    }
}

void SetupKeeper::changed() {
    if (applying_ || setupDevicePending(manager_))
        return;
    setDirty(true);
    rememberSoon();
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
    return true;
}

Setup SetupKeeper::current() {
    Setup setup = captureSetup(manager_);
    if (setup.deviceUid.isEmpty() && setup.deviceName.isEmpty()) {
        setup.deviceUid = deviceUid_;
        setup.deviceName = deviceName_;
    }
    return setup;
}

bool SetupKeeper::restoreLast() {
    const QString path = lastSetupPath();
    if (!QFileInfo::exists(path))
        return false;
    auto read = readSetupFile(path);
    if (auto* error = std::get_if<SetupReadError>(&read)) {
        qCWarning(lcSession, "The last setup could not be restored: %s", qUtf8Printable(error->message));
        manager_.setWarningMessage(QStringLiteral("The last setup could not be restored: %1").arg(error->message));
        return false;
    }
    applying_ = true;
    deviceUid_ = std::get<ReadSetup>(read).setup.deviceUid;
    deviceName_ = std::get<ReadSetup>(read).setup.deviceName;
    applySetup(manager_, std::get<ReadSetup>(read));
    applying_ = false;
    const QString file = QSettings().value(kFileKey).toString();
    filePath_ = QFileInfo::exists(file) ? file : QString();
    emit fileChanged();
    setDirty(false);
    return true;
}

bool SetupKeeper::openPath(const QString& path, bool createIfMissing) {
    if (createIfMissing && !QFileInfo::exists(path)) {
        // A new setup: fresh strips, the device as it is.
        applying_ = true;
        ReadSetup fresh;
        fresh.setup.deviceUid = deviceUid_;
        fresh.setup.deviceName = deviceName_;
        applySetup(manager_, fresh);
        applying_ = false;
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
    applying_ = true;
    deviceUid_ = std::get<ReadSetup>(read).setup.deviceUid;
    deviceName_ = std::get<ReadSetup>(read).setup.deviceName;
    applySetup(manager_, std::get<ReadSetup>(read));
    applying_ = false;
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
