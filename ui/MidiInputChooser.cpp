#include "ui/MidiInputChooser.h"

#include "engine/MidiInputs.h"

namespace corvane {

MidiInputChooser::MidiInputChooser(QObject* parent) : QObject(parent) { chosen_ = midi_inputs::remembered(); }

void MidiInputChooser::setManager(AudioEngineManager* manager) {
    if (manager_ == manager)
        return;
    if (manager_)
        disconnect(manager_, nullptr, this, nullptr);
    manager_ = manager;
    if (manager) {
        connect(manager, &AudioEngineManager::selectedDeviceChanged, this, &MidiInputChooser::refresh);
        // The remembered input is wired from the first start on.
        midi_inputs::give(manager->hardware(), chosen_);
    }
    emit managerChanged();
    refresh();
}

void MidiInputChooser::refresh() {
    ports_.clear();
    present_.clear();
    const AudioEngineManager* manager = manager_.data();
    if (manager && manager->selectedDevice())
        if (auto sources = midi_inputs::sources(manager->hardware(), manager->selectedDevice()->id)) {
            present_ = *sources;
            ports_ = present_;
            if (!chosen_.isEmpty() && !ports_.contains(chosen_))
                ports_.append(chosen_);
        }
    emit changed();
}

QStringList MidiInputChooser::choices() const {
    QStringList choices{QStringLiteral("None")};
    for (const QString& port : ports_)
        choices.append(present_.contains(port) ? port : port + QStringLiteral(" (not present)"));
    return choices;
}

int MidiInputChooser::currentIndex() const { return chosen_.isEmpty() ? 0 : int(ports_.indexOf(chosen_)) + 1; }

void MidiInputChooser::choose(int index) {
    if (index < 0 || index > ports_.size())
        return;
    chosen_ = index == 0 ? QString() : ports_[index - 1];
    midi_inputs::remember(chosen_);
    if (const AudioEngineManager* manager = manager_.data())
        midi_inputs::give(manager->hardware(), chosen_);
    emit changed();
}

} // namespace corvane
