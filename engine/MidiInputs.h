#pragma once
// The MIDI sources that may feed a device's control input, and the one the
// user chose. On a JACK device they are the server's MIDI outputs, wired to
// our client's "control" port; on the ALSA and virtual devices the ALSA
// sequencer's readable ports, connected to "Corvane control". The choice is
// remembered by name in the settings and given to every backend that wires
// one, which wires it at every start of I/O when it is there. Main thread.

#include "platform/hardware/AudioHardware.h"
#include "platform/hardware/ControlInput.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace corvane::midi_inputs {

// Where every backend's MIDI control goes from the next start of I/O on
// (null: nowhere); `input` must outlive that I/O.
void setControlInput(hw::AudioHardware& hardware, hw::ControlInput* input);

// The remembered choice; "" for none.
QString remembered();
void remember(const QString& source);

// Gives `source` ("" for none) to the backends.
void give(hw::AudioHardware& hardware, const QString& source);

// What may feed the control input of `device` now, by name; none when the
// device takes no MIDI (a device of no such backend, or an ALSA or virtual
// device on a machine without a sequencer).
std::optional<QStringList> sources(hw::AudioHardware& hardware, hw::ObjectId device);

} // namespace corvane::midi_inputs
