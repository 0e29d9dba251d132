#pragma once
// MIDI control of the strips: which controller moves what, and what a value
// means to it. Pure values and functions; the parser and the value functions
// never allocate, so the audio thread uses them as they are.
//
// A switch (a strip's ON/OFF switch, or a plug-in's toggled port) follows a
// controller latching (the value says the state: 64 and up is on) or
// momentary (each press flips it). A press is a note-on, or a controller
// value of 64 and up; inverted, a release counts instead (latching: a low
// value is on). A continuous port spans its range over 0-127, logarithmically
// where the port says so, in whole steps for integer ports and from one
// labelled value to the next for enumerations; inverted, 127 is its minimum.

#include "platform/lv2/Parameter.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace corvane {

enum class MidiKind : std::uint8_t { ControlChange, Note, Other };

// One complete channel message. A note-off (or a note-on at velocity 0) is a
// note with value 0.
struct MidiMessage {
    MidiKind kind = MidiKind::Other;
    std::uint8_t channel = 1; // 1-16
    std::uint8_t number = 0;  // controller or note
    std::uint8_t value = 0;   // controller value or velocity
    friend bool operator==(const MidiMessage&, const MidiMessage&) = default;
};

// Bytes to messages, as a MIDI cable delivers them: running status, system
// real-time bytes between any two bytes, system exclusive and other system
// messages skipped, stray data bytes dropped. Keeps its state between calls.
class MidiParser {
public:
    // True with `out` filled when `byte` completes a channel message.
    bool feed(std::uint8_t byte, MidiMessage& out) noexcept;

private:
    std::uint8_t status_ = 0; // the running status; 0 while there is none
    std::uint8_t data_[2] = {};
    int have_ = 0;
};

struct MidiSource {
    MidiKind kind = MidiKind::ControlChange;
    int number = 0;  // 0-127
    int channel = 0; // 1-16; 0 listens on every channel
    bool matches(const MidiMessage& message) const {
        return message.kind == kind && message.number == number && (channel == 0 || message.channel == channel);
    }
    friend bool operator==(const MidiSource&, const MidiSource&) = default;
};

struct MidiTarget {
    int strip = 0; // zero-based
    // A port symbol of the strip's plug-in; empty for the strip's ON/OFF switch.
    QString parameter;
    bool isStripSwitch() const { return parameter.isEmpty(); }
    friend bool operator==(const MidiTarget&, const MidiTarget&) = default;
};

enum class SwitchMode : std::uint8_t { Latching, Momentary };

struct MidiMapping {
    MidiSource source;
    MidiTarget target;
    SwitchMode mode = SwitchMode::Latching;
    bool inverted = false;
    friend bool operator==(const MidiMapping&, const MidiMapping&) = default;
};

// A note has no value to hold a state with: it flips. A controller says its
// state, unless it only ever sends one value (the user then picks momentary).
inline SwitchMode defaultSwitchMode(MidiKind kind) {
    return kind == MidiKind::Note ? SwitchMode::Momentary : SwitchMode::Latching;
}

// The switch after `message` when it was `on`; none when it stays as it is.
std::optional<bool> nextSwitchState(SwitchMode mode, bool inverted, const MidiMessage& message, bool on) noexcept;

// What a port's value range looks like to a controller; made off the audio
// thread (it copies the port's labelled values).
struct ParameterScale {
    float minimum = 0.0f;
    float maximum = 1.0f;
    bool logarithmic = false;
    bool integer = false;
    bool toggled = false;
    std::vector<float> steps; // an enumeration's values, ascending; empty otherwise
};
ParameterScale scaleOf(const lv2::Parameter& parameter);

// The port value for controller value `value` (0-127).
float scaledValue(const ParameterScale& scale, std::uint8_t value, bool inverted) noexcept;

} // namespace corvane
