#pragma once
// The MIDI input chooser of the MIDI Mappings sheet: the ports a controller
// may feed the selected device's control input from (see MidiInputs.h): the
// server's MIDI outputs on a JACK device, the sequencer's readable ports on
// the ALSA and virtual devices. The choice is remembered by port name and
// wired at every start. Where there is nothing to choose (no sequencer on the
// machine) the chooser says so. Main thread only.

#include "engine/AudioEngineManager.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace corvane {

class MidiInputChooser : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(corvane::AudioEngineManager* manager READ manager WRITE setManager NOTIFY managerChanged)
    // "None", then each port; a remembered port the server lacks now is kept, marked.
    Q_PROPERTY(QStringList choices READ choices NOTIFY changed)
    Q_PROPERTY(int currentIndex READ currentIndex NOTIFY changed)
    // Whether there is anything to choose; else `note` says why not.
    Q_PROPERTY(bool available READ available NOTIFY changed)
    Q_PROPERTY(QString note READ note NOTIFY changed)

public:
    explicit MidiInputChooser(QObject* parent = nullptr);

    AudioEngineManager* manager() const { return manager_; }
    void setManager(AudioEngineManager* manager);
    QStringList choices() const;
    int currentIndex() const;
    bool available() const { return !ports_.isEmpty(); }
    QString note() const { return available() ? QString() : QStringLiteral("No MIDI inputs"); }

    // Reads the ports again.
    Q_INVOKABLE void refresh();
    // An index into choices: 0 for none.
    Q_INVOKABLE void choose(int index);

signals:
    void managerChanged();
    void changed();

private:
    QPointer<AudioEngineManager> manager_;
    QStringList ports_; // what is offered; empty where the device takes no MIDI
    QStringList present_; // of those, the ports the server has now
    QString chosen_;
};

} // namespace corvane
