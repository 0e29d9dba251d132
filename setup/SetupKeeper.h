#pragma once
// The setup a person works on: the file it was opened from or saved to, the
// name the window shows, whether it changed since, and the last setup, which
// is remembered beside the settings (the "InterfaceScale" one) so that the
// next launch finds the strips as they were left. Changes are written there
// a moment after they stop coming (one write for a burst of edits), and once
// more at the end. Main thread only.

#include "platform/system/Clock.h"
#include "setup/SetupDocument.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <optional>

namespace corvane {

class AudioEngineManager;
class SetupExchange;

class SetupKeeper : public QObject {
    Q_OBJECT
    // The file's name without its folder and ".json"; "Untitled" without one.
    Q_PROPERTY(QString name READ name NOTIFY fileChanged)
    Q_PROPERTY(QString filePath READ filePath NOTIFY fileChanged)
    Q_PROPERTY(bool hasFile READ hasFile NOTIFY fileChanged)
    // Where the file dialogs start: the current file's folder, else the home folder.
    Q_PROPERTY(QUrl folder READ folder NOTIFY fileChanged)
    Q_PROPERTY(bool isDirty READ isDirty NOTIFY isDirtyChanged)
    // Why the last open or save failed; empty when it did not.
    Q_PROPERTY(QString problem READ problem NOTIFY problemChanged)
    // In a session the session manager chooses the file: no Open, no Save As.
    Q_PROPERTY(bool managedBySession READ managedBySession NOTIFY managedBySessionChanged)

public:
    static constexpr std::chrono::milliseconds kRememberDelay{1000};
    static inline const QString kFileKey = QStringLiteral("SetupFile");
    // Whether the remembered setup differs from its file: a relaunch keeps the mark.
    static inline const QString kDirtyKey = QStringLiteral("SetupDirty");

    // `manager` and `clock` must outlive the keeper.
    SetupKeeper(AudioEngineManager& manager, Clock& clock = SystemClock::instance(), QObject* parent = nullptr);
    ~SetupKeeper() override;

    // Where the last setup is remembered: beside the settings file.
    static QString lastSetupPath();

    QString name() const;
    const QString& filePath() const { return filePath_; }
    bool hasFile() const { return !filePath_.isEmpty(); }
    QUrl folder() const;
    bool isDirty() const { return dirty_; }
    const QString& problem() const { return problem_; }

    // In a session, whose manager keeps the files, changes are not
    // remembered in lastSetupPath() and the file is the session's.
    bool managedBySession() const { return !remembering_; }
    void setManagedBySession(bool managed);
    // Gives the remembered setup to the manager, and takes the file it came
    // from as the current one. False when there is none or it is unusable
    // (said in the manager's warning). A marker beside it (see
    // restoringMarkerPath) lasts while it is given: one found at launch means
    // the last launch died doing that, and the setup is then set aside as
    // "….failed" and not tried again.
    bool restoreLast();
    static QString restoringMarkerPath();
    // Writes the remembered setup, and whether it is unsaved, now (at the
    // end); false if it failed.
    bool rememberNow();

    // The File menu's commands, with the file the dialog chose. False (and
    // `problem` says why) when nothing was opened or saved.
    Q_INVOKABLE bool open(const QUrl& file);
    // Saves to the current file; false without one (Save As then asks).
    Q_INVOKABLE bool save();
    Q_INVOKABLE bool saveAs(const QUrl& file);
    Q_INVOKABLE void dismissProblem() { setProblem({}); }

    // For a session manager: open or make the setup at `path` (a missing
    // file is a new, empty setup), and save to the current file. Messages as above.
    bool openPath(const QString& path, bool createIfMissing);
    bool savePath(const QString& path);

    // The setup as it stands, with the device last chosen when none is now
    // (a device that went away is still the one wanted).
    Setup current();

signals:
    void fileChanged();
    void isDirtyChanged();
    void problemChanged();
    void managedBySessionChanged();

private:
    void watch();
    void setDirty(bool dirty);
    void setFilePath(const QString& path);
    void setProblem(const QString& problem);
    void rememberSoon();
    // Gives a setup read whole to the manager, in place of the strips' own.
    void give(const ReadSetup& read);

    SetupExchange& setups_;
    Clock& clock_;
    QString filePath_;
    bool dirty_ = false;
    bool remembering_ = true;
    QString problem_;
    std::optional<Clock::TimerId> rememberTimer_;
};

} // namespace corvane
