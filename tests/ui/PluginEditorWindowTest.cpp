// The strip's plug-in editor window as a user meets it, offscreen: the
// generic editor of a plug-in without a view of its own, heard at once,
// reused, closed with its instance and its settings kept; presets saved and
// loaded again; a plug-in's own (show-interface) editor; editors that fail.
#include "platform/lv2/Lv2Effect.h"
#include "ui/PluginEditorWindowController.h"
#include "ui/StripController.h"
#include "tests/engine/VirtualRig.h"
#include "tests/fixtures/lv2/FixtureUiProbe.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RealtimeChecker.h"
#include "tests/ui/QuickView.h"

#include <QDir>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtMath>

#include <gtest/gtest.h>

#include <dlfcn.h>

using namespace corvane;
using namespace corvane::test;
namespace virt = corvane::hw::virt;

namespace {

const bool pathSet = [] { return setenv("LV2_PATH", CORVANE_LV2_FIXTURE_DIR, 1) == 0; }();
const PluginComponent gain{"urn:corvane:test:gain", "Fixture Gain", "Corvane Tests", false};
const PluginComponent controls{"urn:corvane:test:controls", "Fixture Controls", "Corvane Tests", false};
const PluginComponent uiRefuses{"urn:corvane:test:uirefuses", "Fixture UI Refuses", "Corvane Tests", false};

struct Rig : VirtualRig {
    Rig() {
        EXPECT_TRUE(pathSet);
        manager->setBufferFrames(256);
        for (std::uint32_t c = 0; c < 8; ++c)
            device->setInputSignal(kVirtual, c, virt::Noise{0.2, 3 + c});
    }
    std::pair<std::vector<float>, std::vector<float>> take(std::uint64_t periods) {
        device->startRecording(kVirtual, periods * 256);
        render(periods);
        device->stopRecording(kVirtual);
        return {device->recordedInput(kVirtual, 0), device->recordedOutput(kVirtual, 0)};
    }
};

struct Strip : QuickView {
    Strip(Rig& rig, int id)
        : QuickView(QStringLiteral("ChannelStripView"),
                    {{"manager", QVariant::fromValue<QObject*>(rig.manager.get())},
                     {"slot", QVariant::fromValue<QObject*>(rig.manager->channels()[id])}},
                    QSize(1000, 80)) {
        settle();
    }
    void pressSettings() { click(findAnywhere(QStringLiteral("settingsButton"))); }
    PluginEditorWindowController* editor() const {
        return qobject_cast<PluginEditorWindowController*>(root()->property("editorController").value<QObject*>());
    }
    // Presses "Plugin settings" and lets the editor be built.
    PluginEditorWindowController* open() {
        pressSettings();
        settle(100);
        return editor();
    }
};

int visibleWindowsTitled(const QString& title) {
    int n = 0;
    for (QWindow* w : QGuiApplication::topLevelWindows())
        n += w->isVisible() && w->title() == title;
    return n;
}

int rowNamed(QAbstractItemModel& model, const QString& name) {
    for (int r = 0; r < model.rowCount(); ++r)
        if (model.index(r, 0).data().toString() == name)
            return r;
    return -1;
}

void photograph(QQuickWindow* window, const QString& name) {
    QDir().mkpath(QStringLiteral(CORVANE_SCREENSHOT_DIR));
    EXPECT_TRUE(window->grabWindow().save(QStringLiteral(CORVANE_SCREENSHOT_DIR "/") + name + QStringLiteral(".png")));
}

} // namespace

TEST(PluginEditorWindow, GenericEditorIsHeardAtOnceReusedClosedWithItsInstanceAndItsPresetsComeBack) {
    QTemporaryDir home;
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    Rig rig;
    rig.route(0, 0, false, 0, false);
    rig.strip(0).setComponent(gain);
    ASSERT_TRUE(rig.start());
    Strip strip(rig, 0);
    ASSERT_TRUE(strip.ok()) << strip.errors().toStdString();

    LogCapture log;
    PluginEditorWindowController* first = strip.open();
    ASSERT_TRUE(first);
    QPointer<PluginEditorWindowController> forgotten(first);
    PluginEditorWindowController* editor = first;
    QQuickWindow* shown = editor->window();
    QPointer<QQuickWindow> window(shown);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_EQ(shown->title(), "Fixture Gain");
    EXPECT_TRUE(editor->showsParameters());
    EXPECT_EQ(log.messagesIn("corvane.editor", QtInfoMsg),
              QStringList{"Plugin “Fixture Gain” has no view of its own - showing parameters"});
    // Sized around what the editor needs (values never cut off), and no smaller than 360 × 240.
    const QQuickItem* generic = shown->findChild<QQuickItem*>(QStringLiteral("genericEditor"));
    ASSERT_TRUE(generic);
    EXPECT_EQ(shown->size(), PluginEditorWindowController::genericWindowSize(
                                 QSize(qCeil(generic->implicitWidth()),
                                       qCeil(generic->implicitHeight()) + shown->property("headerHeight").toInt())));
    auto& rows = *qobject_cast<QAbstractItemModel*>(editor->parameters());
    ASSERT_EQ(rows.rowCount(), 3) << "every control port, the expert output included";
    const int gainRow = rowNamed(rows, "Gain");
    ASSERT_GE(gainRow, 0);
    photograph(shown, QStringLiteral("generic-editor"));

    strip.pressSettings();
    strip.settle();
    EXPECT_EQ(strip.editor(), editor) << "the same window for the same instance";
    EXPECT_EQ(visibleWindowsTitled("Fixture Gain"), 1);
    shown->close(); // by the user: hidden, not gone
    strip.settle();
    EXPECT_FALSE(shown->isVisible());
    EXPECT_EQ(strip.open(), editor) << "brought back as it was";
    EXPECT_TRUE(shown->isVisible());

    // Turned in the editor, heard from the next period on, off the heap.
    QMetaObject::invokeMethod(&rows, "setPosition", Q_ARG(int, gainRow), Q_ARG(double, 0.75));
    {
        RealtimeChecker checker;
        auto [in, out] = rig.take(3);
        for (std::size_t i = 0; i < out.size(); ++i)
            ASSERT_EQ(out[i], in[i] * 3.0f) << "frame " << i;
        EXPECT_EQ(checker.violations(), 0u) << checker.report();
    }
    ASSERT_TRUE(editor->savePreset(QStringLiteral("Warm")));

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
    const QSize smallest = PluginEditorWindowController::genericWindowSize({200, 100});
    EXPECT_EQ(smallest, QSize(360, 240));
    EXPECT_EQ(PluginEditorWindowController::genericWindowSize({900, 500}), QSize(900, 500));
    EXPECT_TRUE(PluginEditorWindowController::genericWindowSize({0, 0}).isEmpty());

    Rig rig;
    for (int s = 0; s < 3; ++s)
        rig.route(s, s, false, s, false);
    rig.strip(0).setComponent(controls);
    rig.strip(1).setComponent(uiRefuses);
    rig.strip(2).setComponent(controls);
    ASSERT_TRUE(rig.start());
    Strip own(rig, 0), refusing(rig, 1), early(rig, 2);
    void* lib = dlopen(CORVANE_LV2_FIXTURE_DIR "/controls.lv2/fixtureui.so", RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr);
    FixtureUiProbe* probe = reinterpret_cast<FixtureUiProbeFunction>(dlsym(lib, "corvane_fixture_ui_probe"))();
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
    dlclose(lib);
}
