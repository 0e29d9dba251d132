#include "ui/MidiLearn.h"

#include "ui/MidiMappingText.h"

#include <QStringList>

namespace corvane {

MidiLearn::MidiLearn(QObject* parent) : QObject(parent) {}

void MidiLearn::setManager(AudioEngineManager* manager) {
    if (manager_ == manager)
        return;
    if (manager_)
        disconnect(manager_, nullptr, this, nullptr);
    if (midi_)
        disconnect(midi_, nullptr, this, nullptr);
    manager_ = manager;
    midi_ = manager ? &manager->midiControl() : nullptr;
    if (midi_) {
        connect(midi_, &MidiControl::learningChanged, this, &MidiLearn::changed);
        connect(midi_, &MidiControl::mappingsChanged, this, &MidiLearn::changed);
        // Whether a parameter is a switch is known once its plug-in is loaded.
        for (ChannelSlot* slot : manager->channels())
            connect(slot, &ChannelSlot::effectNodeChanged, this, &MidiLearn::changed);
    }
    emit managerChanged();
    emit changed();
}

void MidiLearn::setStrip(int strip) {
    if (strip == target_.strip)
        return;
    target_.strip = strip;
    emit targetChanged();
    emit changed();
}

void MidiLearn::setParameter(const QString& parameter) {
    if (parameter == target_.parameter)
        return;
    target_.parameter = parameter;
    emit targetChanged();
    emit changed();
}

void MidiLearn::setLabel(const QString& label) {
    if (label == label_)
        return;
    label_ = label;
    emit targetChanged();
    emit changed();
}

bool MidiLearn::listening() const {
    const MidiControl* midi = midi_.data();
    return midi && midi->learning() == target_;
}

QList<MidiMapping> MidiLearn::ownMappings() const {
    QList<MidiMapping> own;
    if (const MidiControl* midi = midi_.data())
        for (const MidiMapping& m : midi->mappings())
            if (m.target == target_)
                own.append(m);
    return own;
}

QString MidiLearn::mappingText() const {
    QStringList texts;
    for (const MidiMapping& m : ownMappings())
        texts.append(midiSourceText(m.source));
    return texts.join(QStringLiteral(", "));
}

QString MidiLearn::badgeText() const {
    if (listening())
        return label_.isEmpty() ? QStringLiteral("Listening… move a controller")
                                : QStringLiteral("Learning “%1”… move a controller").arg(label_);
    const QString mapping = mappingText();
    return label_.isEmpty() || mapping.isEmpty() ? mapping : label_ + QStringLiteral(" · ") + mapping;
}

QString MidiLearn::learnText() const {
    return listening() ? QStringLiteral("Stop Listening") : QStringLiteral("Learn MIDI");
}

bool MidiLearn::isSwitch() const {
    const AudioEngineManager* manager = manager_.data();
    return manager && isMidiSwitch(target_, manager->channels());
}

bool MidiLearn::momentary() const {
    const QList<MidiMapping> own = ownMappings();
    return !own.isEmpty() && own.first().mode == SwitchMode::Momentary;
}

bool MidiLearn::inverted() const {
    const QList<MidiMapping> own = ownMappings();
    return !own.isEmpty() && own.first().inverted;
}

void MidiLearn::learn() {
    MidiControl* midi = midi_.data();
    if (!midi || target_.strip < 0)
        return;
    if (listening())
        midi->cancelLearning();
    else
        midi->learn(target_);
}

void MidiLearn::cancel() {
    if (MidiControl* midi = midi_.data(); midi && listening())
        midi->cancelLearning();
}

template <typename Change> void MidiLearn::changeOwn(Change change) {
    MidiControl* midi = midi_.data();
    if (!midi)
        return;
    QList<MidiMapping> next;
    for (MidiMapping m : midi->mappings()) {
        if (m.target == target_ && !change(m))
            continue;
        next.append(m);
    }
    midi->setMappings(std::move(next));
}

void MidiLearn::remove() {
    changeOwn([](MidiMapping&) { return false; });
}

void MidiLearn::setMomentary(bool momentary) {
    changeOwn([momentary](MidiMapping& m) {
        m.mode = momentary ? SwitchMode::Momentary : SwitchMode::Latching;
        return true;
    });
}

void MidiLearn::setInverted(bool inverted) {
    changeOwn([inverted](MidiMapping& m) {
        m.inverted = inverted;
        return true;
    });
}

} // namespace corvane
