#include "ui/MidiInputChooser.h"

#include "platform/hardware/jack/JackBackend.h"

#include <QSettings>

namespace corvane {

namespace {

const QString kSettingsKey = QStringLiteral("Midi/ControlInput");

} // namespace

MidiInputChooser::MidiInputChooser(QObject* parent) : QObject(parent) {
    chosen_ = QSettings().value(kSettingsKey).toString();
}

void MidiInputChooser::setManager(AudioEngineManager* manager) {
    if (manager_ == manager)
        return;
    if (manager_)
        disconnect(manager_, nullptr, this, nullptr);
    manager_ = manager;
    if (manager) {
        connect(manager, &AudioEngineManager::selectedDeviceChanged, this, &MidiInputChooser::refresh);
        // The remembered input is wired from the first start on.
        if (auto* jack = manager->hardware().backend<hw::JackBackend>())
            jack->setControlSource(chosen_.toStdString());
    }
    emit managerChanged();
    refresh();
}

hw::JackBackend* MidiInputChooser::jackOfSelectedDevice() const {
    const AudioEngineManager* manager = manager_.data();
    if (!manager || !manager->selectedDevice())
        return nullptr;
    auto* jack = manager->hardware().backend<hw::JackBackend>();
    return jack && jack->owns(manager->selectedDevice()->id) ? jack : nullptr;
}

void MidiInputChooser::refresh() {
    ports_.clear();
    present_.clear();
    if (hw::JackBackend* jack = jackOfSelectedDevice()) {
        for (const std::string& port : jack->midiSources())
            present_.append(QString::fromStdString(port));
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
    QSettings().setValue(kSettingsKey, chosen_);
    if (const AudioEngineManager* manager = manager_.data())
        if (auto* jack = manager->hardware().backend<hw::JackBackend>())
            jack->setControlSource(chosen_.toStdString());
    emit changed();
}

} // namespace corvane
