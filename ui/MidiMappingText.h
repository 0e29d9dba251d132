#pragma once
// How the window names a MIDI mapping's parts: the message ("CC 64"), the
// channel it listens on ("ch 1", "any ch"), how a switch follows it, and what
// it moves ("Strip 1 ON/OFF", "Strip 2 · Fixture Gain · Gain"). Main thread.

#include "engine/MidiMapping.h"

#include <QList>
#include <QString>

namespace corvane {

class ChannelSlot;

QString midiMessageText(const MidiSource& source);
QString midiChannelText(int channel);
// The message and its channel: "CC 64 ch 1", "Note 60 any ch".
QString midiSourceText(const MidiSource& source);
// "Latching", "Momentary", "Continuous", each with ", inverted" when it is.
QString midiModeText(const MidiMapping& mapping, bool isSwitch);
// The strip's switch, or the plug-in and parameter by the names the strip's
// loaded plug-in gives them (the port's symbol while none is loaded).
QString midiTargetText(const MidiTarget& target, const QList<ChannelSlot*>& strips);
// Whether the target is a switch: the strip's, or a toggled port of its loaded plug-in.
bool isMidiSwitch(const MidiTarget& target, const QList<ChannelSlot*>& strips);

} // namespace corvane
