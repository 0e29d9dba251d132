#pragma once
// The MIDI input chooser of the MIDI Mappings sheet: on a JACK device, the
// server's MIDI outputs a controller may feed Corvane's control port from.
// The choice is remembered by port name in the settings and given to the JACK
// backend, which wires it at every start. ALSA and the virtual device have no
// MIDI input here: the chooser then says so. Main thread only.

#include "engine/AudioEngineManager.h"

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace corvane {

namespace hw {
class JackBackend;
}

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

    // Reads the server's ports again.
    Q_INVOKABLE void refresh();
    // An index into choices: 0 for none.
    Q_INVOKABLE void choose(int index);

signals:
    void managerChanged();
    void changed();

private:
    hw::JackBackend* jackOfSelectedDevice() const;

    QPointer<AudioEngineManager> manager_;
    QStringList ports_; // what is offered; empty off JACK
    QStringList present_; // of those, the ports the server has now
    QString chosen_;
};

} // namespace corvane
