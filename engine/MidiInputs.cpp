#include "engine/MidiInputs.h"

#include "platform/hardware/alsa/AlsaBackend.h"
#include "platform/hardware/jack/JackBackend.h"
#include "platform/hardware/virtual/VirtualBackend.h"

#include <QSettings>

namespace corvane::midi_inputs {

namespace {

const QString kSettingsKey = QStringLiteral("Midi/ControlInput");

QStringList toList(const std::vector<std::string>& names) {
    QStringList list;
    for (const std::string& name : names)
        list.append(QString::fromStdString(name));
    return list;
}

// The ALSA and virtual backends share one sequencer port: whichever
// backend is there has it.
hw::alsa::SequencerInput* sequencerOf(hw::AudioHardware& hardware) {
    if (auto* alsa = hardware.backend<hw::AlsaBackend>(); alsa && alsa->sequencer())
        return alsa->sequencer().get();
    auto* virt = hardware.backend<hw::VirtualBackend>();
    return virt ? virt->sequencer().get() : nullptr;
}

} // namespace

void setControlInput(hw::AudioHardware& hardware, hw::ControlInput* input) {
    if (auto* jack = hardware.backend<hw::JackBackend>())
        jack->setControlInput(input);
    if (auto* sequencer = sequencerOf(hardware))
        sequencer->setControlInput(input);
}

QString remembered() { return QSettings().value(kSettingsKey).toString(); }

void remember(const QString& source) { QSettings().setValue(kSettingsKey, source); }

void give(hw::AudioHardware& hardware, const QString& source) {
    const std::string name = source.toStdString();
    if (auto* jack = hardware.backend<hw::JackBackend>())
        jack->setControlSource(name);
    if (auto* sequencer = sequencerOf(hardware))
        sequencer->setSource(name);
}

std::optional<QStringList> sources(hw::AudioHardware& hardware, hw::ObjectId device) {
    if (auto* jack = hardware.backend<hw::JackBackend>(); jack && jack->owns(device))
        return toList(jack->midiSources());
    hw::alsa::SequencerInput* sequencer = nullptr;
    if (auto* alsa = hardware.backend<hw::AlsaBackend>(); alsa && alsa->owns(device))
        sequencer = alsa->sequencer().get();
    else if (auto* virt = hardware.backend<hw::VirtualBackend>(); virt && virt->owns(device))
        sequencer = virt->sequencer().get();
    if (!sequencer || !sequencer->open())
        return std::nullopt;
    return toList(sequencer->sources());
}

} // namespace corvane::midi_inputs
