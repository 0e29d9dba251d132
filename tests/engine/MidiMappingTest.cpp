// MIDI control's model: bytes to messages, switches, and controller values
// over a port's range; when the control takes in what the audio thread heard.
#include "engine/MidiControl.h"
#include "engine/MidiMapping.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

using namespace corvane;

namespace {

std::vector<MidiMessage> parse(MidiParser& parser, std::initializer_list<int> bytes) {
    std::vector<MidiMessage> messages;
    for (int byte : bytes)
        if (MidiMessage m; parser.feed(static_cast<std::uint8_t>(byte), m))
            messages.push_back(m);
    return messages;
}

MidiMessage cc(int value, int number = 64, int channel = 1) {
    return {MidiKind::ControlChange, std::uint8_t(channel), std::uint8_t(number), std::uint8_t(value)};
}

} // namespace

TEST(MidiParser, RunningStatusAndGarbage) {
    MidiParser parser;
    const auto messages = parse(parser, {
        0x12, 0x40,             // data before any status: dropped
        0xB0, 0x40, 0x7F,       // CC 64 = 127, channel 1
        0x40, 0xF8, 0x00,       // running status, a clock byte in between: CC 64 = 0
        0x9F, 0x3C,             // a note-on cut short by a new status...
        0x8F, 0x3C, 0x40,       // ...a note-off on channel 16
        0x99, 0x24, 0x00,       // a note-on at velocity 0 is a release
        0xC2, 0x05,             // program change: a message, of no kind we map
        0xF0, 0x7E, 0x01, 0xF7, // system exclusive ends the running status...
        0x05, 0x06,             // ...so these are dropped
        0x93, 0x30, 0x50,
    });
    const std::vector<MidiMessage> expected{
        cc(127), cc(0),
        {MidiKind::Note, 16, 0x3C, 0},
        {MidiKind::Note, 10, 0x24, 0},
        {MidiKind::Other, 3, 5, 0},
        {MidiKind::Note, 4, 0x30, 0x50},
    };
    EXPECT_EQ(messages, expected);
}

TEST(MidiMapping, SwitchesAndSources) {
    using enum SwitchMode;
    const MidiMessage noteOn{MidiKind::Note, 1, 60, 20};
    const MidiMessage noteOff{MidiKind::Note, 1, 60, 0};
    struct Case {
        SwitchMode mode;
        bool inverted;
        MidiMessage message;
        bool on;
        std::optional<bool> next;
    } cases[] = {
        {Latching, false, cc(64), false, true},   {Latching, false, cc(63), true, false},
        {Latching, true, cc(127), true, false},   {Latching, true, cc(0), false, true},
        {Momentary, false, cc(127), false, true}, {Momentary, false, cc(127), true, false}, // a 127-only pedal
        {Momentary, false, cc(0), true, std::nullopt},                                        // the release
        {Momentary, true, cc(0), true, false},    {Momentary, true, cc(127), false, std::nullopt},
        {Momentary, false, noteOn, true, false},  {Momentary, false, noteOff, false, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(nextSwitchState(c.mode, c.inverted, c.message, c.on), c.next)
            << int(c.mode) << c.inverted << int(c.message.value) << c.on;
    EXPECT_EQ(defaultSwitchMode(MidiKind::Note), Momentary);
    EXPECT_EQ(defaultSwitchMode(MidiKind::ControlChange), Latching);

    const MidiSource any{MidiKind::ControlChange, 64, 0};
    const MidiSource ch2{MidiKind::ControlChange, 64, 2};
    EXPECT_TRUE(any.matches(cc(1, 64, 9)));
    EXPECT_FALSE(ch2.matches(cc(1, 64, 1)));
    EXPECT_TRUE(ch2.matches(cc(1, 64, 2)));
    EXPECT_FALSE(any.matches(cc(1, 65)));
    EXPECT_FALSE(any.matches({MidiKind::Note, 1, 64, 100}));
}

TEST(MidiMapping, ValuesOverThePortsRange) {
    lv2::Parameter linear;
    linear.minimum = -10.0f;
    linear.maximum = 10.0f;
    lv2::Parameter frequency = linear;
    frequency.minimum = 20.0f;
    frequency.maximum = 20000.0f;
    frequency.logarithmic = true;
    lv2::Parameter stages = linear;
    stages.minimum = 1.0f;
    stages.maximum = 4.0f;
    stages.integer = true;
    lv2::Parameter shape = linear;
    shape.minimum = 0.0f;
    shape.maximum = 9.0f;
    shape.enumeration = true;
    shape.scalePoints = {{9.0f, "square"}, {0.0f, "sine"}, {2.0f, "saw"}, {20.0f, "out of range"}};
    lv2::Parameter negativeLog = linear; // no logarithmic span across zero: linear
    negativeLog.logarithmic = true;

    struct Case {
        const lv2::Parameter& port;
        int value;
        bool inverted;
        float expected;
    } cases[] = {
        {linear, 0, false, -10.0f},      {linear, 127, false, 10.0f},     {linear, 127, true, -10.0f},
        {frequency, 0, false, 20.0f},    {frequency, 127, false, 20000.0f},
        {frequency, 64, false, 20.0f * std::pow(1000.0f, 64.0f / 127.0f)},
        {stages, 60, false, 2.0f},       {stages, 127, false, 4.0f},
        {shape, 0, false, 0.0f},         {shape, 63, false, 2.0f},        {shape, 127, false, 9.0f},
        {negativeLog, 127, false, 10.0f}, {negativeLog, 0, false, -10.0f},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(scaledValue(scaleOf(c.port), std::uint8_t(c.value), c.inverted), c.expected,
                    std::abs(c.expected) * 1e-5)
            << c.port.minimum << ".." << c.port.maximum << " at " << c.value;
}

TEST(MidiControl, WakesTheMainThreadOnlyWhileALearningWaits) {
    using namespace std::chrono_literals;
    ManualClock clock;
    MidiControl midi(clock);
    std::optional<MidiMapping> learned;
    QObject::connect(&midi, &MidiControl::learned, [&](const MidiMapping& m) { learned = m; });
    midi.arm({});
    EXPECT_EQ(clock.pendingTimers(), 0u) << "nothing to take in: no timer";
    midi.learn(MidiTarget{0, QStringLiteral("gain")});
    const std::uint8_t bytes[] = {0xB0, 7, 100};
    midi.receive(bytes, sizeof bytes);
    clock.advance(100ms);
    ASSERT_TRUE(learned);
    EXPECT_EQ(learned->source.number, 7);
    EXPECT_EQ(clock.pendingTimers(), 0u) << "learned: the timer ends";
    EXPECT_EQ(midi.eventsReceived(), 1u);
    midi.disarm();
}
