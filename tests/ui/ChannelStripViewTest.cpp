// The channel strip as a user meets it: its channel pickers, its plug-in
// switch and settings button, its meters, the plug-in picker sheet, and the
// plug-in editor window its settings button opens: the generic editor of a
// plug-in without a view of its own, reused, closed with its instance and its
// settings and presets kept; a plug-in's own (show-interface) editor; editors
// that fail.
#include "platform/system/Clock.h"
#include "plugins/ParameterListModel.h"
#include "plugins/PluginCatalog.h"
#include "tests/engine/VirtualRig.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManagerPeer.h"
#include "tests/ui/FixturePlugins.h"
#include "tests/ui/QuickView.h"
#include "ui/ChannelChoices.h"
#include "ui/LevelMeterView.h"
#include "ui/PluginEditorWindowController.h"
#include "ui/StripController.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtMath>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>

using namespace corvane;
using namespace corvane::test;

namespace {


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
    PluginEditorWindowController* editor() const {
        return qobject_cast<PluginEditorWindowController*>(root()->property("editorController").value<QObject*>());
    }
    // Presses "Plugin settings" and lets the editor be built.
    PluginEditorWindowController* open() {
        click(QStringLiteral("settingsButton"));
        settle(100);
        return editor();
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

TEST(ChannelStripView, PickersSwitchAndRemoveWriteTheStripAndMetersShowRmsAsABarAndPeakAsALine) {
    VirtualRig rig;
    StripView view(rig);
    ASSERT_TRUE(view.ok()) << view.errors().toStdString();
    view.screenshot("strip-stopped");
    ChannelSlot& slot = rig.strip(0);

    // The channel pickers follow the device and the width and write the strip.
    ManagerPeer::select(*rig.manager, deviceWith(4, 8));
    view.settle();
    view.click(QuickView::findUnder(view.item("inputWidthPicker"), "stereoSegment"));
    EXPECT_TRUE(slot.inputStereo());
    EXPECT_EQ(QuickView::entriesOf(view.item("inputChannelPicker")), QStringList({"—", "1-2", "2-3", "3-4"}));
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

    // The meters: a bar as long as the RMS, a line at the peak.
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

    // The switch bypasses through the manager and follows it.
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
    slot.setComponent(fixtureGain);
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

TEST(LevelMeterView, FollowsItsStripSideAndMovesOnlyForAPointOrMore) {
    VirtualRig rig;
    ManualClock clock;
    LevelMeterView meter(clock);
    meter.setWidth(100);
    meter.setSlot(&rig.strip(0));
    meter.setInput(false);
    const auto reading = [&](float level) {
        rig.strip(0).setOutputLevel({level, level});
        clock.advance(2 * std::chrono::milliseconds(LevelMeterView::kGlideMs));
    };
    // A steady level's jitter of under a point: the bar holds still.
    for (float level : {0.503f, 0.508f, 0.506f, 0.507f})
        reading(level);
    EXPECT_EQ(meter.barWidth(), 50.0);
    reading(0.52f);
    reading(0.521f);
    EXPECT_EQ(meter.barWidth(), 52.0);
    rig.strip(0).setInputLevel({0.9f, 0.9f});
    EXPECT_EQ(meter.reading().rms, 0.521f);
}

TEST(ChannelStripView, AWidthChangedWhilePlayingSaysItAppliesAtTheNextStart) {
    VirtualRig rig;
    rig.route(0, 0, false, 0, false);
    ASSERT_TRUE(rig.start());
    StripView view(rig);
    ASSERT_TRUE(view.ok()) << view.errors().toStdString();
    QQuickItem* mark = view.item("pendingUntilStartMark");
    ASSERT_NE(mark, nullptr);
    EXPECT_FALSE(mark->isVisible());
    view.click(QuickView::findUnder(view.item("inputWidthPicker"), "stereoSegment"));
    EXPECT_TRUE(mark->isVisible());
    EXPECT_EQ(mark->property("text").toString(), "applies at next Start");
    view.screenshot("strip-applies-at-next-start");
    ASSERT_TRUE(rig.start());
    view.settle();
    EXPECT_FALSE(mark->isVisible());
}

TEST(ChannelStripView, PickerFiltersAsYouTypeMarksTheChosenPluginAndWritesTheChoice) {
    ASSERT_TRUE(fixturePathSet);
    VirtualRig rig;
    ChannelSlot& slot = rig.strip(0);
    {
        StripView view(rig);
        ASSERT_TRUE(view.ok()) << view.errors().toStdString();
        // (The row shown until the catalog first arrives is the model's; the
        // catalog kept on disk arrives before a window test could see it.)
        view.root()->setProperty("showPicker", true);
        ASSERT_TRUE(view.sheetOpen());
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
        // From the search field the arrows move through the rows and Enter
        // takes the row they reached (before any, nothing): past the end, the last.
        QTest::keyClick(view.window(), Qt::Key_Return);
        EXPECT_TRUE(view.sheetOpen());
        for (const Qt::Key key : {Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Up, Qt::Key_Down, Qt::Key_Return})
            QTest::keyClick(view.window(), key);
        view.settle();
        EXPECT_FALSE(view.sheetOpen());
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
    slot.setComponent(fixtureGain);
    StripView zoomed(rig, 1.5);
    zoomed.click("pluginButton");
    ASSERT_TRUE(zoomed.waitUntilLoaded());
    QObject* sheet = zoomed.root()->findChild<QObject*>("pluginPickerSheet");
    ASSERT_NE(sheet, nullptr);
    EXPECT_DOUBLE_EQ(sheet->property("width").toDouble(), 720);
    EXPECT_DOUBLE_EQ(sheet->property("height").toDouble(), 780);
    zoomed.screenshot("picker-loaded-zoom-1.5");
}

TEST(PluginEditorWindow, GenericEditorIsReusedClosedWithItsInstanceAndItsSettingsAndPresetsComeBack) {
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    VirtualRig rig;
    rig.route(0, 0, false, 0, false);
    rig.strip(0).setComponent(fixtureGain);
    ASSERT_TRUE(rig.start());
    StripView strip(rig);
    ASSERT_TRUE(strip.ok()) << strip.errors().toStdString();

    PluginEditorWindowController* editor = strip.open();
    ASSERT_TRUE(editor);
    QPointer<PluginEditorWindowController> forgotten(editor);
    QQuickWindow* shown = editor->window();
    QPointer<QQuickWindow> window(shown);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_EQ(shown->title(), "Fixture Gain");
    EXPECT_TRUE(editor->showsParameters());
    // Sized around what the editor needs (values never cut off), and no smaller than 360 × 240.
    const QQuickItem* generic = shown->findChild<QQuickItem*>(QStringLiteral("genericEditor"));
    ASSERT_TRUE(generic);
    EXPECT_EQ(shown->size(), PluginEditorWindowController::genericWindowSize(
                                 QSize(qCeil(generic->implicitWidth()),
                                       qCeil(generic->implicitHeight()) + shown->property("headerHeight").toInt())));
    auto& rows = *qobject_cast<QAbstractItemModel*>(editor->parameters());
    ASSERT_EQ(rows.rowCount(), 3) << "every control port, the expert output included";
    const QModelIndexList found = rows.match(rows.index(0, 0), Qt::DisplayRole, QStringLiteral("Gain"));
    ASSERT_EQ(found.size(), 1);
    const int gainRow = found[0].row();
    ASSERT_TRUE(QDir().mkpath(QStringLiteral(CORVANE_SCREENSHOT_DIR)));
    EXPECT_TRUE(shown->grabWindow().save(QStringLiteral(CORVANE_SCREENSHOT_DIR "/generic-editor.png")));
    // A wider window gives its width to the sliders.
    QQuickItem* slider = QuickView::findUnder(shown->contentItem(), QStringLiteral("parameterSlider"));
    ASSERT_TRUE(slider);
    const qreal narrow = slider->width();
    shown->resize(shown->width() + 200, shown->height());
    strip.settle();
    EXPECT_EQ(slider->width(), narrow + 200);
    const QQuickItem* note = QuickView::findUnder(shown->contentItem(), QStringLiteral("noParametersNote"));
    ASSERT_TRUE(note);
    EXPECT_FALSE(note->isVisible());

    strip.click(QStringLiteral("settingsButton"));
    EXPECT_EQ(strip.editor(), editor) << "the same window for the same instance";
    EXPECT_EQ(editor->window(), shown);
    shown->close(); // by the user: hidden, not gone
    strip.settle();
    EXPECT_FALSE(shown->isVisible());
    EXPECT_EQ(strip.open(), editor) << "brought back as it was";
    EXPECT_TRUE(shown->isVisible());

    // Turned in the editor (that the plug-in hears it is the rows' own test)
    // and kept in a preset.
    QMetaObject::invokeMethod(&rows, "setPosition", Q_ARG(int, gainRow), Q_ARG(double, 0.75));
    EXPECT_FALSE(PluginEditorWindowController::isPresetName(QString()));
    EXPECT_FALSE(PluginEditorWindowController::isPresetName(QStringLiteral(" \t ")));
    const auto press = [&](const char* name) {
        QQuickItem* item = QuickView::findUnder(shown->contentItem(), QString::fromLatin1(name));
        QTest::mouseClick(shown, Qt::LeftButton, {}, item->mapToScene({item->width() / 2, item->height() / 2}).toPoint());
        strip.settle();
        return item;
    };
    press("savePresetButton");
    QQuickItem* save = QuickView::findUnder(shown->contentItem(), QStringLiteral("savePresetConfirm"));
    ASSERT_TRUE(save);
    EXPECT_FALSE(save->isEnabled()) << "no name yet";
    const QImage unnamed = shown->grabWindow();
    EXPECT_TRUE(unnamed.save(QStringLiteral(CORVANE_SCREENSHOT_DIR "/save-preset-unnamed.png")));
    const auto brightest = [&](const char* name) {
        QQuickItem* item = QuickView::findUnder(shown->contentItem(), QString::fromLatin1(name));
        const QRect area = item->mapRectToScene(item->boundingRect()).toRect() & unnamed.rect();
        int most = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                most = std::max(most, qGray(unnamed.pixel(x, y)));
        return most;
    };
    EXPECT_LT(brightest("savePresetConfirm"), brightest("savePresetCancel") * 3 / 4) << "drawn as unavailable";
    const auto type = [&](const char* text) {
        for (const char* c = text; *c; ++c)
            QTest::keyClick(shown, *c);
        strip.settle();
    };
    type("  ");
    EXPECT_FALSE(save->isEnabled()) << "spaces are no name";
    type("Warm");
    EXPECT_TRUE(save->isEnabled());
    press("savePresetConfirm");

    // Stop: the window closes and the controller is forgotten; the value stays.
    rig.manager->stop();
    strip.settle();
    EXPECT_FALSE(forgotten) << "forgotten with its instance";
    EXPECT_TRUE(!window || !window->isVisible());
    ASSERT_TRUE(rig.start());
    editor = strip.open();
    ASSERT_TRUE(editor);
    auto& fresh = *qobject_cast<QAbstractItemModel*>(editor->parameters());
    const auto gainNow = [&] { return fresh.index(gainRow, 0).data(ParameterListModel::ValueRole).toDouble(); };
    EXPECT_EQ(gainNow(), 3.0) << "survives Stop and Start";
    // The preset itself sounds the same: the preset tests check that sample by sample.
    QMetaObject::invokeMethod(&fresh, "setValue", Q_ARG(int, gainRow), Q_ARG(double, 0.5));
    const int warm = int(editor->presetNames().indexOf("Warm"));
    ASSERT_GE(warm, 0) << editor->presetNames().join(", ").toStdString();
    QSignalSpy loaded(editor, &PluginEditorWindowController::presetLoaded);
    editor->loadPreset(warm);
    ASSERT_TRUE(waitFor([&] { return !loaded.isEmpty(); }));
    EXPECT_TRUE(loaded.first().first().toBool());
    EXPECT_EQ(gainNow(), 3.0);
    rig.manager->stop();
    strip.settle();
    qputenv("HOME", oldHome);
}

TEST(PluginEditorWindow, APlugInsOwnEditorIsTakenAndEditorsThatFailOrAreClosedEarlyFallBackOrBuildNothing) {
    EXPECT_EQ(PluginEditorWindowController::genericWindowSize({200, 100}), QSize(360, 240));
    EXPECT_EQ(PluginEditorWindowController::genericWindowSize({900, 500}), QSize(900, 500));
    EXPECT_TRUE(PluginEditorWindowController::genericWindowSize({0, 0}).isEmpty());

    VirtualRig rig;
    for (int s = 0; s < 3; ++s)
        rig.route(s, s, false, s, false);
    rig.strip(0).setComponent(fixtureControls);
    rig.strip(1).setComponent(PluginComponent{"urn:corvane:test:uirefuses", "Fixture UI Refuses", "Corvane Tests", false});
    rig.strip(2).setComponent(fixtureControls);
    ASSERT_TRUE(rig.start());
    StripView own(rig, 1.0, 0), refusing(rig, 1.0, 1), early(rig, 1.0, 2);
    FixtureUiProbe* probe = fixtureUiProbe();
    ASSERT_NE(probe, nullptr);
    const int instances = probe->instances, cleanups = probe->cleanups, shows = probe->shows;

    LogCapture log;
    PluginEditorWindowController* editor = own.open();
    ASSERT_TRUE(editor);
    EXPECT_TRUE(editor->hasOwnView());
    EXPECT_FALSE(editor->showsParameters());
    EXPECT_EQ(probe->instances, instances + 1);
    EXPECT_GT(probe->shows, shows);
    EXPECT_TRUE(editor->ownViewApart());
    EXPECT_EQ(editor->window()->size(), QSize(480, 360)) << "its own window takes the size it asks for, not ours";
    EXPECT_FALSE(log.contains("has no view of its own"));

    ASSERT_TRUE(refusing.open());
    EXPECT_TRUE(refusing.editor()->showsParameters());
    QQuickWindow* bare = refusing.editor()->window();
    QQuickItem* note = QuickView::findUnder(bare->contentItem(), QStringLiteral("noParametersNote"));
    ASSERT_TRUE(note);
    EXPECT_TRUE(note->isVisible()) << "a plug-in with audio ports only";
    EXPECT_EQ(note->property("text").toString(), "This plug-in has no parameters.");
    EXPECT_TRUE(bare->grabWindow().save(QStringLiteral(CORVANE_SCREENSHOT_DIR "/generic-editor-no-parameters.png")));
    EXPECT_TRUE(log.contains("The editor of “Fixture UI Refuses”"));
    EXPECT_EQ(log.count("Plugin “Fixture UI Refuses” has no view of its own - showing parameters"), 1);

    // Closed before its view was built: nothing is built at all.
    auto* earlyStrip = early.root()->findChild<StripController*>();
    ASSERT_TRUE(earlyStrip);
    earlyStrip->openEditor();
    earlyStrip->closeEditor();
    early.settle(100);
    EXPECT_EQ(probe->instances, instances + 1);
    EXPECT_EQ(early.editor(), nullptr);

    // Stop with editors open: each plug-in editor is cleaned up before its instance goes.
    rig.manager->stop();
    own.settle();
    EXPECT_EQ(probe->cleanups, cleanups + 1);
    EXPECT_EQ(own.editor(), nullptr);
    EXPECT_EQ(refusing.editor(), nullptr);
}
