#pragma once
// Where setups meet the engine: the setup the manager holds now, taken as one
// value, and a setup given to it whole. Whoever opens, saves or remembers
// setups reaches the strips, the device and the plug-ins' settings only
// through this. Main thread.
//
// Giving one never refuses the rest: what is left to decide here (which
// device, which channels it has, whether a plug-in's state parses) is said in
// notes, which also become the manager's warning. While the engine runs, the
// strips change for the next start (as any strip edit does) and the device is
// chosen once playback has stopped; before the device list is whole, once it
// is.

#include "engine/Setup.h"
#include "engine/SetupDevice.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

namespace corvane {

class AudioEngineManager;

class SetupExchange : public QObject {
    Q_OBJECT
public:
    explicit SetupExchange(AudioEngineManager& manager);

    // The setup as it stands; a loaded plug-in's state is read from it (LV2
    // lets that happen while it runs). Its device is the setup's own while
    // that is still wanted, else the selected one, else the last one selected:
    // a device that went away is still the one wanted.
    Setup capture() const;

    // Gives `setup` to the strips, and to the device unless `chooseDevice` is
    // false (the command line chose one). `notes` come first (what reading
    // the setup decided). Yields all notes, also logged and shown as the
    // warning; a setup given clears the notes of the one before.
    QStringList give(const Setup& setup, QStringList notes = {}, bool chooseDevice = true);

    // Shows why no setup could be given as the warning (the caller logs it).
    void showNotes(const QStringList& notes);

    // Whether a given setup's device is still to be chosen (or being chosen
    // now): it is, until the device list is whole.
    bool devicePending() const;

signals:
    // The user changed something a setup holds.
    void edited();
    // Something a setup holds changed, not by the user's hand: the setup's
    // device was chosen, or playback stopped (plug-ins' settings are taken
    // from the editors then).
    void moved();

private:
    void watch();
    void noteDevice();
    void changed();
    // Logs the notes and shows them.
    void tell(const QStringList& notes);

    AudioEngineManager& manager_;
    QPointer<PendingSetupDevice> pending_;
    bool giving_ = false;
    // The device last selected, or the last setup's.
    QString deviceUid_;
    QString deviceName_;
};

} // namespace corvane
