#pragma once
// Learn MIDI for one control of the window: a strip's ON/OFF switch, or one
// parameter of its plug-in. Pressed once it listens for the next controller
// moved (a second press or Escape stops it), and it says what the control is
// mapped to, removes that, and sets how a switch follows it. Only one control
// listens at a time: the manager's MIDI control holds which. Main thread only.

#include "engine/AudioEngineManager.h"
#include "engine/MidiMapping.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QtQml/qqmlregistration.h>

namespace corvane {

class MidiLearn : public QObject {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(corvane::AudioEngineManager* manager READ manager WRITE setManager NOTIFY managerChanged)
    // Zero-based; and a port symbol of its plug-in, empty for the strip's ON/OFF switch.
    Q_PROPERTY(int stripIndex READ strip WRITE setStrip NOTIFY targetChanged)
    Q_PROPERTY(QString parameter READ parameter WRITE setParameter NOTIFY targetChanged)
    // What the user calls the control, where nothing beside it says so (the
    // last one touched in a plug-in's own editor): the badge then names it.
    Q_PROPERTY(QString label READ label WRITE setLabel NOTIFY targetChanged)
    Q_PROPERTY(bool listening READ listening NOTIFY changed)
    Q_PROPERTY(bool mapped READ mapped NOTIFY changed)
    // What the control is mapped to ("CC 64 ch 1"); empty while nothing.
    Q_PROPERTY(QString mappingText READ mappingText NOTIFY changed)
    // Beside the control: that it listens, else its mapping.
    Q_PROPERTY(QString badgeText READ badgeText NOTIFY changed)
    // The menu entry that starts or stops listening.
    Q_PROPERTY(QString learnText READ learnText NOTIFY changed)
    // A switch is latching or momentary; any mapping may be inverted.
    Q_PROPERTY(bool isSwitch READ isSwitch NOTIFY changed)
    Q_PROPERTY(bool momentary READ momentary NOTIFY changed)
    Q_PROPERTY(bool inverted READ inverted NOTIFY changed)

public:
    explicit MidiLearn(QObject* parent = nullptr);

    AudioEngineManager* manager() const { return manager_; }
    void setManager(AudioEngineManager* manager);
    int strip() const { return target_.strip; }
    void setStrip(int strip);
    QString parameter() const { return target_.parameter; }
    void setParameter(const QString& parameter);
    QString label() const { return label_; }
    void setLabel(const QString& label);

    bool listening() const;
    bool mapped() const { return !ownMappings().isEmpty(); }
    QString mappingText() const;
    QString badgeText() const;
    QString learnText() const;
    bool isSwitch() const;
    bool momentary() const;
    bool inverted() const;

    // Listens for this control, or stops when it already does.
    Q_INVOKABLE void learn();
    // Stops listening, when this control listens.
    Q_INVOKABLE void cancel();
    // Every mapping of this control goes.
    Q_INVOKABLE void remove();
    // For every mapping of this control.
    Q_INVOKABLE void setMomentary(bool momentary);
    Q_INVOKABLE void setInverted(bool inverted);

signals:
    void managerChanged();
    void targetChanged();
    void changed();

private:
    QList<MidiMapping> ownMappings() const;
    template <typename Change> void changeOwn(Change change);

    QPointer<AudioEngineManager> manager_;
    QPointer<MidiControl> midi_; // the manager's
    MidiTarget target_{-1, {}};
    QString label_;
};

} // namespace corvane
