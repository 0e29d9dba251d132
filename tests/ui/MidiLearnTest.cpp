// Learn MIDI as the window offers it: one control listens at a time, a second
// press stops it, a learned control says what it is mapped to and how a switch
// follows it, and removing it leaves the other controls' mappings alone.
#include "tests/engine/VirtualRig.h"
#include "ui/MidiLearn.h"
#include "ui/MidiMappingText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <vector>

using namespace corvane;
using namespace corvane::test;
using namespace std::chrono_literals;

namespace {

const bool pathSet = [] { return setenv("LV2_PATH", CORVANE_LV2_FIXTURE_DIR, 1) == 0; }();

} // namespace

TEST(MidiLearn, OneControlListensAtATimeAndALearnedSwitchShowsRemovesAndSetsItsMapping) {
    ASSERT_TRUE(pathSet);
    VirtualRig rig;
    rig.route(0, 0, false, 0, false);
    rig.strip(0).setComponent(PluginComponent{"urn:corvane:test:gain", "Fixture Gain", "Zeta Labs", false});
    ASSERT_TRUE(rig.start());
    MidiControl& midi = rig.manager->midiControl();
    auto send = [&](std::vector<std::uint8_t> bytes) { midi.receive(bytes.data(), std::uint32_t(bytes.size())); };

    MidiLearn bypass;
    bypass.setManager(rig.manager.get());
    bypass.setStrip(0);
    MidiLearn gain;
    gain.setManager(rig.manager.get());
    gain.setStrip(0);
    gain.setParameter(QStringLiteral("gain"));
    EXPECT_EQ(bypass.learnText(), "Learn MIDI");

    // Arming another control disarms the first; a second press, or Escape, stops listening.
    bypass.learn();
    EXPECT_EQ(bypass.badgeText(), "Listening… move a controller");
    EXPECT_EQ(bypass.learnText(), "Stop Listening");
    gain.learn();
    EXPECT_FALSE(bypass.listening());
    gain.learn();
    EXPECT_FALSE(gain.listening());
    bypass.learn();
    gain.cancel(); // not the one listening
    EXPECT_TRUE(bypass.listening());
    bypass.cancel();
    EXPECT_FALSE(bypass.listening());

    // Learned: the switch shows its controller and follows it as the user says.
    bypass.learn();
    send({0xB0, 64, 127});
    rig.clock.advance(30ms);
    EXPECT_FALSE(bypass.listening());
    EXPECT_EQ(bypass.badgeText(), "CC 64 any ch");
    EXPECT_TRUE(bypass.isSwitch());
    EXPECT_FALSE(gain.isSwitch());
    bypass.setMomentary(true);
    bypass.setInverted(true);
    const MidiMapping pedal{{MidiKind::ControlChange, 64, 0}, {0, {}}, SwitchMode::Momentary, true};
    EXPECT_EQ(midi.mappings(), QList<MidiMapping>{pedal});
    EXPECT_TRUE(bypass.momentary() && bypass.inverted());

    const MidiMapping key{{MidiKind::Note, 60, 10}, {0, "gain"}, SwitchMode::Latching, false};
    midi.setMappings({pedal, key});
    EXPECT_EQ(gain.mappingText(), "Note 60 ch 10");
    EXPECT_EQ(midiTargetText(key.target, rig.manager->channels()), "Strip 1 · Fixture Gain · Gain");
    EXPECT_EQ(midiTargetText(pedal.target, rig.manager->channels()), "Strip 1 ON/OFF");
    EXPECT_EQ(midiModeText(key, false), "Continuous");
    bypass.remove();
    EXPECT_FALSE(bypass.mapped());
    EXPECT_EQ(midi.mappings(), QList<MidiMapping>{key});
}
