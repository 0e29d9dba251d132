// The channel strip as a user meets it: its channel pickers, its plug-in
// switch and settings button, its meters, and the plug-in picker sheet.
#include "plugins/PluginCatalog.h"
#include "tests/engine/VirtualRig.h"
#include "tests/support/ManagerPeer.h"
#include "tests/ui/QuickView.h"
#include "ui/ChannelChoices.h"

#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>

using namespace corvane;
using namespace corvane::test;

namespace {

// Only the fixture bundles: a small catalog that is the same everywhere. Set
// before the first lilv world.
const bool pathSet = [] { return setenv("LV2_PATH", CORVANE_LV2_FIXTURE_DIR, 1) == 0; }();


struct StripView : QuickView {
    explicit StripView(VirtualRig& rig, double scale = 1.0, int id = 0)
        : QuickView(QStringLiteral("ChannelStripView"),
                    {{"manager", QVariant::fromValue<QObject*>(rig.manager.get())},
                     {"slot", QVariant::fromValue<QObject*>(rig.manager->channels()[id])},
                     {"interfaceScale", scale}},
                    QSize(int(1000 * scale), int(664 * scale))) {
        if (root())
            root()->setHeight(root()->implicitHeight());
        window()->setColor(QColor::fromRgbF(0.071f, 0.078f, 0.094f));
        window()->requestActivate();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window()));
        settle();
    }

    QQuickItem* item(const QString& name) {
        QQuickItem* found = findAnywhere(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
    using QuickView::click;
    void click(const QString& name) { click(item(name)); }
    void type(const char* text) {
        for (const char* c = text; *c; ++c)
            QTest::keyClick(window(), *c);
        settle();
    }
    // What a channel picker offers, in order.
    QStringList entries(const QString& name) { return entriesOf(item(name)); }
    bool sheetOpen() {
        QQuickItem* sheet = findAnywhere(QStringLiteral("pickerList"));
        return sheet && sheet->isVisible();
    }
    QObject* pickerModel() { return item(QStringLiteral("pickerList"))->property("model").value<QObject*>(); }
    bool waitUntilLoaded() {
        QElapsedTimer timer;
        timer.start();
        while (pickerModel()->property("loading").toBool() && timer.elapsed() < 20000)
            settle(20);
        settle();
        return !pickerModel()->property("loading").toBool();
    }
};

AudioDevice deviceWith(int inputs, int outputs) {
    return AudioDevice{42, QStringLiteral("test:%1x%2").arg(inputs).arg(outputs), QStringLiteral("Test"), inputs, outputs};
}

} // namespace

TEST(ChannelChoices, EveryMonoStartOrEveryAdjacentPairAndAChannelTheDeviceLacksReadsAsItself) {
    struct Case {
        int count;
        bool stereo;
        int channel;
        QStringList entries;
        int index;
        QString shown;
    };
    for (const Case& c : {Case{0, false, -1, {"—"}, 0, "—"}, Case{1, true, -1, {"—"}, 0, "—"},
                          Case{2, false, 1, {"—", "1", "2"}, 2, "2"}, Case{2, true, 0, {"—", "1-2"}, 1, "1-2"},
                          Case{4, true, 2, {"—", "1-2", "2-3", "3-4"}, 3, "3-4"},
                          Case{2, true, 1, {"—", "1-2"}, -1, "2-3"}}) {
        ChannelChoices choices;
        choices.setChannelCount(c.count);
        choices.setStereo(c.stereo);
        choices.setChannel(c.channel);
        EXPECT_EQ(choices.entries(), c.entries) << c.count << c.stereo;
        EXPECT_EQ(choices.currentIndex(), c.index) << c.count << c.stereo << c.channel;
        EXPECT_EQ(choices.displayText(), c.shown);
    }
}

TEST(ChannelStripView, ChannelPickersFollowTheDeviceAndTheWidthAndWriteTheStrip) {
    VirtualRig rig;
    StripView view(rig);
    ASSERT_TRUE(view.ok()) << view.errors().toStdString();
    ChannelSlot& slot = rig.strip(0);
    ManagerPeer::select(*rig.manager, deviceWith(4, 8));
    view.settle();
    EXPECT_EQ(view.entries("inputChannelPicker"), QStringList({"—", "1", "2", "3", "4"}));
    view.click(QuickView::findUnder(view.item("inputWidthPicker"), "stereoSegment"));
    EXPECT_TRUE(slot.inputStereo());
    EXPECT_EQ(view.entries("inputChannelPicker"), QStringList({"—", "1-2", "2-3", "3-4"}));

    // Choosing an entry writes the strip's channel.
    view.click("outputChannelPicker");
    QQuickItem* entry = nullptr;
    std::function<void(QQuickItem*)> look = [&](QQuickItem* item) {
        if (item->property("text").toString() == "5" && item->inherits("QQuickItemDelegate"))
            entry = item;
        for (QQuickItem* child : item->childItems())
            look(child);
    };
    look(view.window()->contentItem());
    view.screenshot("strip-channel-picker-open");
    view.click(entry);
    EXPECT_EQ(slot.outputChannel(), 4);
    EXPECT_EQ(view.item("outputChannelPicker")->property("displayText").toString(), "5");
    EXPECT_TRUE(view.warnings().isEmpty()) << view.warnings().join('\n').toStdString();
}

TEST(ChannelStripView, SwitchBypassesThroughTheManagerAndAStoppedPluginHasNoSettingsYet) {
    VirtualRig rig;
    StripView view(rig);
    ASSERT_TRUE(view.ok()) << view.errors().toStdString();
    ChannelSlot& slot = rig.strip(0);
    QQuickItem* label = view.item("pluginSwitchLabel");

    view.click("pluginSwitch");
    EXPECT_TRUE(slot.bypass());
    EXPECT_EQ(label->property("text").toString(), "OFF");
    view.click("pluginSwitch");
    EXPECT_FALSE(slot.bypass());
    EXPECT_EQ(label->property("text").toString(), "ON");
    rig.manager->setBypass(slot, true);
    view.settle();
    EXPECT_FALSE(view.item("pluginSwitch")->property("checked").toBool());

    // Chosen but not running: dimmed settings, and an alert that says why.
    slot.setComponent(PluginComponent{"urn:corvane:test:gain", "Fixture Gain", "Zeta Labs", false});
    view.settle();
    EXPECT_EQ(view.item("pluginName")->property("text").toString(), "Fixture Gain");
    EXPECT_DOUBLE_EQ(view.item("settingsButton")->opacity(), 0.4);
    view.click("settingsButton");
    QQuickItem* message = view.item("notRunningMessage");
    ASSERT_NE(message, nullptr);
    EXPECT_TRUE(message->isVisible());
    EXPECT_EQ(message->property("text").toString(),
              "First select a plugin and press “Start” above. Only then can its settings be opened.");
    view.screenshot("strip-not-running-alert");
    view.click("notRunningOk");
    EXPECT_FALSE(message->isVisible());

    // Remove drops the choice, and is then dimmed and inert.
    view.click("removeButton");
    EXPECT_FALSE(slot.hasComponent());
    EXPECT_EQ(view.item("pluginName")->property("text").toString(), "No Plugin");
    EXPECT_FALSE(view.item("removeButton")->isEnabled());
    EXPECT_TRUE(view.warnings().isEmpty()) << view.warnings().join('\n').toStdString();
}

TEST(ChannelStripView, MetersShowRmsAsABarAndPeakAsALine) {
    VirtualRig rig;
    StripView view(rig);
    ASSERT_TRUE(view.ok()) << view.errors().toStdString();
    view.screenshot("strip-stopped");
    ChannelSlot& slot = rig.strip(0);
    rig.route(0, 0, false, 0, true);
    slot.setInputLevel({1.2f, 0.75f});
    slot.setOutputLevel({0.5f, 0.3f});
    slot.setOutputLevelRight({1.0f, 1.0f});
    view.settle(300);

    QQuickItem* in = view.item("inputMeter");
    ASSERT_NE(in, nullptr);
    const double w = in->width();
    QQuickItem* meter = QuickView::findUnder(in, "levelMeter");
    ASSERT_NE(meter, nullptr);
    EXPECT_NEAR(meter->property("barWidth").toReal(), 0.75 * w, 0.5); // drawn in whole points
    EXPECT_EQ(meter->property("barColor").value<QColor>(), QColor::fromRgbF(0.98f, 0.74f, 0.29f));
    EXPECT_TRUE(meter->property("peakShown").toBool());
    EXPECT_NEAR(meter->property("peakOffset").toReal(), w - 1.5, 0.01);
    EXPECT_EQ(meter->property("peakColor").value<QColor>(), QColor::fromRgbF(0.98f, 0.36f, 0.36f));
    view.screenshot("strip-meters");

    slot.setInputLevel({0.0f, 0.0f});
    view.settle(300);
    EXPECT_EQ(meter->property("barWidth").toReal(), 0.0);
    EXPECT_FALSE(meter->property("peakShown").toBool());
}

TEST(ChannelStripView, PickerFiltersAsYouTypeMarksTheChosenPluginAndWritesTheChoice) {
    ASSERT_TRUE(pathSet);
    VirtualRig rig;
    ChannelSlot& slot = rig.strip(0);
    {
        StripView view(rig);
        ASSERT_TRUE(view.ok()) << view.errors().toStdString();
        PluginCatalog::invalidate();
        // Straight after the showing, before the scan's result can arrive.
        view.root()->setProperty("showPicker", true);
        ASSERT_TRUE(view.sheetOpen());
        QQuickItem* loadingRow = view.item("pickerRow:loading");
        ASSERT_NE(loadingRow, nullptr);
        EXPECT_TRUE(loadingRow->isVisible());
        view.screenshot("picker-loading");
        ASSERT_TRUE(view.waitUntilLoaded());
        view.screenshot("picker-loaded");
        QQuickItem* list = view.item("pickerList");
        const int everything = list->property("count").toInt();
        EXPECT_GT(everything, 3);

        view.type("STER");
        EXPECT_EQ(list->property("count").toInt(), 2); // "No Plugin" and fixture stereo
        view.click("pickerRow:urn:corvane:test:stereo");
        EXPECT_FALSE(view.sheetOpen());
        EXPECT_EQ(slot.component()->uri, "urn:corvane:test:stereo");
        EXPECT_EQ(slot.component()->name, "fixture stereo");

        // The next showing starts with an empty search and marks the choice.
        view.click("pluginButton");
        ASSERT_TRUE(view.sheetOpen());
        EXPECT_EQ(view.item("pickerSearchField")->property("text").toString(), "");
        EXPECT_EQ(view.item("pickerList")->property("count").toInt(), everything);
        EXPECT_TRUE(QuickView::findUnder(view.item("pickerRow:urn:corvane:test:stereo"), "checkmark")->isVisible());
        EXPECT_FALSE(QuickView::findUnder(view.item("pickerRow:urn:corvane:test:gain"), "checkmark")->isVisible());
        // A catalog that changes under an open sheet leaves the shown list alone.
        PluginCatalog::invalidate();
        view.type("zeta");
        EXPECT_EQ(view.item("pickerList")->property("count").toInt(), 2);
        view.click("pickerRow:urn:corvane:test:gain");
        EXPECT_EQ(slot.component()->uri, "urn:corvane:test:gain");

        view.click("pluginButton");
        view.click("pickerRow:none");
        EXPECT_FALSE(view.sheetOpen());
        EXPECT_FALSE(slot.hasComponent());
        view.click("pluginButton");
        view.click("pickerClose");
        EXPECT_FALSE(view.sheetOpen());
        EXPECT_TRUE(view.warnings().isEmpty()) << view.warnings().join('\n').toStdString();
    }
    // At a zoom of 1.5 the sheet is drawn one and a half times as large.
    slot.setComponent(PluginComponent{"urn:corvane:test:gain", "Fixture Gain", "Zeta Labs", false});
    StripView zoomed(rig, 1.5);
    zoomed.click("pluginButton");
    ASSERT_TRUE(zoomed.waitUntilLoaded());
    QObject* sheet = zoomed.root()->findChild<QObject*>("pluginPickerSheet");
    ASSERT_NE(sheet, nullptr);
    EXPECT_DOUBLE_EQ(sheet->property("width").toDouble(), 720);
    EXPECT_DOUBLE_EQ(sheet->property("height").toDouble(), 780);
    zoomed.screenshot("picker-loaded-zoom-1.5");
}
