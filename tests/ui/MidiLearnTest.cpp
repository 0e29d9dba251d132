// Learn MIDI as the window offers it: one control listens at a time, a second
// press stops it, a learned control says what it is mapped to and how a switch
// follows it, and removing it leaves the other controls' mappings alone.
#include "tests/engine/VirtualRig.h"
#include "tests/ui/FixturePlugins.h"
#include "tests/ui/QuickView.h"
#include "ui/MidiLearn.h"
#include "ui/MidiMappingText.h"
#include "ui/PluginEditorWindowController.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <vector>

using namespace corvane;
using namespace corvane::test;
using namespace std::chrono_literals;

namespace {


// A running strip with a fixture (the gain, unless said), and a controller to move.
struct MidiRig : VirtualRig {
    explicit MidiRig(const PluginComponent& plugin = fixtureGain) {
        route(0, 0, false, 0, false);
        strip(0).setComponent(plugin);
        EXPECT_TRUE(start());
    }
    void send(std::vector<std::uint8_t> bytes) {
        manager->midiControl().receive(bytes.data(), std::uint32_t(bytes.size()));
        clock.advance(30ms);
    }
};

void rightClick(QQuickItem* item) {
    QTest::mouseClick(item->window(), Qt::RightButton, {}, item->mapToScene(item->boundingRect().center()).toPoint());
}

// The shown items named `name` in `window`, pop-ups and list rows included.
QList<QQuickItem*> shownNamed(QQuickWindow* window, const QString& name) {
    QList<QQuickItem*> found;
    std::function<void(QQuickItem*)> look = [&](QQuickItem* item) {
        if (item->objectName() == name && item->isVisible())
            found.append(item);
        for (QQuickItem* child : item->childItems())
            look(child);
    };
    look(window->contentItem());
    return found;
}

void leftClick(QQuickItem* item) {
    QTest::mouseClick(item->window(), Qt::LeftButton, {}, item->mapToScene(item->boundingRect().center()).toPoint());
    QTest::qWait(50);
}

QString badgeOf(QuickView& view) {
    QQuickItem* badge = view.findAnywhere(QStringLiteral("midiBadgeText"));
    return badge && badge->parentItem()->isVisible() ? badge->property("text").toString() : QString();
}

} // namespace

TEST(MidiLearn, OneControlListensAtATimeAndALearnedSwitchShowsRemovesAndSetsItsMapping) {
    ASSERT_TRUE(fixturePathSet);
    MidiRig rig;
    MidiControl& midi = rig.manager->midiControl();

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
    rig.send({0xB0, 64, 127});
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

TEST(MidiLearn, TheStripsSwitchAndAnEditorRowLearnFromTheirMenusAndShowTheirMapping) {
    MidiRig rig;
    QuickView view(QStringLiteral("ChannelStripView"),
                   {{"manager", QVariant::fromValue<QObject*>(rig.manager.get())},
                    {"slot", QVariant::fromValue<QObject*>(rig.manager->channels()[0])}},
                   QSize(1000, 80));
    ASSERT_TRUE(view.ok()) << view.errors().toStdString();
    view.window()->setColor(QColor::fromRgbF(0.071f, 0.078f, 0.094f));
    view.settle();

    // A right click on the switch offers Learn MIDI; Escape stops listening.
    rightClick(view.findAnywhere(QStringLiteral("pluginSwitch")));
    view.settle();
    view.click(view.findAnywhere(QStringLiteral("midiLearnEntry")));
    EXPECT_EQ(badgeOf(view), "Listening… move a controller");
    QTest::keyClick(view.window(), Qt::Key_Escape);
    view.settle();
    EXPECT_EQ(badgeOf(view), "");

    // The menu key on the focused switch, then a pedal: the badge says which.
    view.findAnywhere(QStringLiteral("pluginSwitch"))->forceActiveFocus();
    QTest::keyClick(view.window(), Qt::Key_Menu);
    view.settle();
    view.click(view.findAnywhere(QStringLiteral("midiLearnEntry")));
    rig.send({0xB0, 64, 127});
    view.settle();
    EXPECT_EQ(badgeOf(view), "CC 64 any ch");
    auto mappings = rig.manager->midiControl().mappings();
    mappings[0].source.channel = 1;
    rig.manager->midiControl().setMappings(mappings);
    view.settle();
    EXPECT_EQ(badgeOf(view), "CC 64 ch 1");
    view.screenshot(QStringLiteral("midi-learned-bypass"));

    // An editor row learns for its own port of this strip.
    view.click(view.findAnywhere(QStringLiteral("settingsButton")));
    view.settle(100);
    auto* editor = qobject_cast<PluginEditorWindowController*>(view.root()->property("editorController").value<QObject*>());
    ASSERT_TRUE(editor);
    const QList<QQuickItem*> sliders = shownNamed(editor->window(), QStringLiteral("parameterSlider"));
    ASSERT_EQ(sliders.size(), 1) << "the gain";
    QQuickItem* button = QuickView::findUnder(sliders[0]->parentItem()->parentItem(), QStringLiteral("parameterMidi"));
    ASSERT_TRUE(button);
    leftClick(button);
    const QList<QQuickItem*> entries = shownNamed(editor->window(), QStringLiteral("midiLearnEntry"));
    ASSERT_EQ(entries.size(), 1);
    leftClick(entries[0]);
    EXPECT_EQ(button->property("text").toString(), "Listening… move a controller");
    rig.send({0xB2, 7, 0});
    QTest::qWait(50);
    EXPECT_EQ(button->property("text").toString(), "CC 7 any ch");
    EXPECT_EQ(rig.manager->midiControl().mappings().last().target, (MidiTarget{0, QStringLiteral("gain")}));
    editor->close();
}

TEST(MidiLearn, ThePlugInsOwnEditorLearnsTheParameterItTouchedLast) {
    MidiRig rig(fixtureControls);
    QuickView view(QStringLiteral("ChannelStripView"),
                   {{"manager", QVariant::fromValue<QObject*>(rig.manager.get())},
                    {"slot", QVariant::fromValue<QObject*>(rig.manager->channels()[0])}},
                   QSize(1000, 80));
    ASSERT_TRUE(view.ok()) << view.errors().toStdString();
    FixtureUiProbe* probe = fixtureUiProbe();
    ASSERT_NE(probe, nullptr);
    view.click(view.findAnywhere(QStringLiteral("settingsButton")));
    view.settle(100);
    auto* editor = qobject_cast<PluginEditorWindowController*>(view.root()->property("editorController").value<QObject*>());
    ASSERT_TRUE(editor && editor->hasOwnView());
    QQuickItem* learn = QuickView::findUnder(editor->window()->contentItem(), QStringLiteral("learnTouchedButton"));
    ASSERT_TRUE(learn && learn->isVisible());
    EXPECT_FALSE(learn->isEnabled()) << "nothing touched yet";

    // The user turns the editor's cutoff, then its boost: the boost is learned.
    for (std::uint32_t port : {4u, 5u}) {
        const float value = 0.5f;
        ASSERT_TRUE(probe->write(port, sizeof value, 0, &value));
    }
    view.settle();
    ASSERT_TRUE(learn->isEnabled());
    leftClick(learn);
    QQuickItem* badge = QuickView::findUnder(editor->window()->contentItem(), QStringLiteral("touchedMidiBadge"));
    ASSERT_TRUE(badge);
    EXPECT_EQ(QuickView::findUnder(badge, QStringLiteral("midiBadgeText"))->property("text").toString(),
              "Learning “Boost”… move a controller");
    rig.send({0xB0, 21, 100});
    QTest::qWait(50);
    EXPECT_EQ(rig.manager->midiControl().mappings(),
              (QList<MidiMapping>{{{MidiKind::ControlChange, 21, 0}, {0, QStringLiteral("boost")}, SwitchMode::Latching, false}}));
    EXPECT_EQ(QuickView::findUnder(badge, QStringLiteral("midiBadgeText"))->property("text").toString(), "Boost · CC 21 any ch");
    leftClick(QuickView::findUnder(editor->window()->contentItem(), QStringLiteral("touchedRemoveButton")));
    EXPECT_TRUE(rig.manager->midiControl().mappings().isEmpty());
    editor->close();
}

TEST(MidiMappingsSheet, ListsEveryMappingByWhatItMovesAndRemovesOne) {
    MidiRig rig;
    MidiControl& midi = rig.manager->midiControl();
    const MidiMapping pedal{{MidiKind::ControlChange, 64, 1}, {0, {}}, SwitchMode::Latching, false};
    const MidiMapping knob{{MidiKind::ControlChange, 7, 0}, {0, "gain"}, SwitchMode::Latching, true};
    const MidiMapping key{{MidiKind::Note, 60, 10}, {2, {}}, SwitchMode::Momentary, true};
    midi.setMappings({pedal, knob, key});
    QuickView view(QStringLiteral("DevicePanelView"), {{"manager", QVariant::fromValue<QObject*>(rig.manager.get())}},
                   QSize(1000, 360));
    view.window()->setColor(QColor::fromRgbF(0.071f, 0.078f, 0.094f));
    ASSERT_TRUE(view.ok()) << view.errors().toStdString();
    view.settle();
    view.click(view.findAnywhere(QStringLiteral("midiMappingsButton")));

    QStringList targets;
    for (QQuickItem* target : view.itemsNamed(QStringLiteral("midiMappingTarget")))
        targets.append(target->property("text").toString());
    EXPECT_EQ(targets, QStringList({"Strip 1 ON/OFF", "Strip 1 · Fixture Gain · Gain", "Strip 3 ON/OFF"}));
    // No sequencer in this rig: the virtual device has no MIDI input.
    EXPECT_EQ(view.findAnywhere(QStringLiteral("midiInputNote"))->property("text").toString(), "No MIDI inputs");
    view.screenshot(QStringLiteral("midi-mappings"));

    view.click(view.itemsNamed(QStringLiteral("midiMappingRemove"))[1]);
    EXPECT_EQ(midi.mappings(), (QList<MidiMapping>{pedal, key}));
    EXPECT_TRUE(view.warnings().isEmpty()) << view.warnings().join('\n').toStdString();
}
