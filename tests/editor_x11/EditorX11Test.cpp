// A plug-in's own X11 editor from Debian on a real X server (run under Xvfb by
// run-under-xvfb.sh): embedded in the strip's editor window, photographed,
// reused and closed on Stop; for a plug-in in a host of its own, made by that
// host inside our window, and when it crashes, taking only that host along.
#include "ui/PluginEditorWindowController.h"
#include "platform/lv2/HostedEffect.h"
#include "platform/lv2/IsolatedEffect.h"
#include "tests/engine/VirtualRig.h"
#include "tests/support/EventLoop.h"
#include "tests/support/RealtimeChecker.h"
#include "tests/ui/QuickView.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QQuickItem>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <thread>

using namespace corvane;
using namespace corvane::test;

namespace {

const bool pathSet = [] { return setenv("LV2_PATH", "/usr/lib/lv2:" CORVANE_LV2_FIXTURE_DIR, 1) == 0; }();

// Skips (with the reason) without an X server to host the editors on.
#define REQUIRE_X11_EDITORS()                                                                                          \
    do {                                                                                                               \
        if (QGuiApplication::platformName() != QLatin1String("xcb"))                                                  \
            GTEST_SKIP() << "needs an X server: run under xvfb-run (run-under-xvfb.sh does)";                        \
    } while (false)

struct Rig : VirtualRig {
    Rig() {
        EXPECT_TRUE(pathSet);
        manager->setBufferFrames(256);
        route(0, 0, true, 0, true);
    }
};

// Plug-ins in hosts of their own.
struct IsolatedRig : Rig {
    IsolatedRig() {
        manager->setIsolation(true);
        manager->setPluginHostProgram(CORVANE_PLUGIN_HOST);
    }
};

// The processes this one's threads started that are still there.
QString children() {
    QString all;
    for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile file(QStringLiteral("/proc/self/task/%1/children").arg(task));
        if (file.open(QIODevice::ReadOnly))
            all += QString::fromLatin1(file.readAll());
    }
    return all.trimmed();
}

struct Strip : QuickView {
    explicit Strip(Rig& rig)
        : QuickView(QStringLiteral("ChannelStripView"),
                    {{"manager", QVariant::fromValue<QObject*>(rig.manager.get())},
                     {"slot", QVariant::fromValue<QObject*>(rig.manager->channels()[0])}},
                    QSize(1000, 80)) {}
    PluginEditorWindowController* editor() const {
        return qobject_cast<PluginEditorWindowController*>(root()->property("editorController").value<QObject*>());
    }
    PluginEditorWindowController* open(int settleMs) {
        click(findAnywhere(QStringLiteral("settingsButton")), false);
        settle(settleMs);
        return editor();
    }
};

// The X server's picture of `window` (the plug-in's child window included) in the screenshots.
void photograph(QQuickWindow* window, const char* name) {
    QDir().mkpath(QStringLiteral(CORVANE_SCREENSHOT_DIR));
    const QString shot = QStringLiteral(CORVANE_SCREENSHOT_DIR "/%1.png").arg(QLatin1String(name));
    const QStringList arguments{QStringLiteral("-window"), QString::number(window->winId()), shot};
    EXPECT_EQ(QProcess::execute(QStringLiteral("import"), arguments), 0);
    EXPECT_TRUE(QFile::exists(shot)) << name;
}

// A real plug-in's own editor: strip 1 plays the plug-in (from Debian's
// `package`), and `opened` shows its editor at the size the editor asks for.
void openOwnEditor(Rig& rig, Strip& strip, const PluginComponent& component, const char* package,
                   PluginEditorWindowController*& opened) {
    ASSERT_TRUE(strip.ok()) << strip.errors().toStdString();
    rig.strip(0).setComponent(component);
    ASSERT_TRUE(rig.start()) << rig.manager->errorMessage().value_or("").toStdString();
    ASSERT_TRUE(rig.manager->isRunning()) << "is " << package << " installed?";
    opened = strip.open(0);
    ASSERT_TRUE(opened);
    ASSERT_TRUE(waitFor([&] { return opened->hasOwnView(); }));
    EXPECT_TRUE(opened->window()->isVisible());
    EXPECT_NE(opened->window()->size(), QSize(480, 360)) << "the editor's own size is taken";
}

} // namespace

TEST(PluginEditorX11, AnLspEditorIsEmbeddedPhotographedReusedAndClosedOnStop) {
    REQUIRE_X11_EDITORS();
    Rig rig;
    Strip strip(rig);
    PluginEditorWindowController* opened = nullptr;
    const PluginComponent lsp{"http://lsp-plug.in/plugins/lv2/compressor_stereo", "LSP Compressor Stereo",
                              "LSP", false};
    ASSERT_NO_FATAL_FAILURE(openOwnEditor(rig, strip, lsp, "lsp-plugins-lv2", opened));
    QPointer<PluginEditorWindowController> editor(opened);
    QQuickWindow* shown = opened->window();
    QPointer<QQuickWindow> window(shown);
    EXPECT_EQ(shown->title(), "LSP Compressor Stereo");
    for (int i = 0; i < 20; ++i) { // the plug-in runs; its meters and graphs reach the editor
        RealtimeChecker checker;
        rig.render(10);
        EXPECT_EQ(checker.violations(), 0u) << checker.report();
        strip.settle(50);
    }
    photograph(shown, "lsp-editor");

    // The wheel over the editor's Ratio knob, then Learn the last touched parameter, photographed listening.
    const QString wid = QString::number(shown->winId());
    const QString knobY = QString::number(shown->property("headerHeight").toInt() + 423);
    QProcess::execute(QStringLiteral("xdotool"), {"mousemove", "--window", wid, "567", knobY, "click", "--repeat", "3", "4"});
    strip.settle(300);
    EXPECT_FALSE(opened->touchedParameter().isEmpty()) << "the editor wrote no control";
    QQuickItem* learn = QuickView::findUnder(shown->contentItem(), QStringLiteral("learnTouchedButton"));
    ASSERT_TRUE(learn);
    QTest::mouseClick(shown, Qt::LeftButton, {}, learn->mapToScene(learn->boundingRect().center()).toPoint());
    strip.settle(200);
    photograph(shown, "midi-learn-editor");
    rig.manager->midiControl().cancelLearning();

    strip.open(200);
    EXPECT_EQ(strip.editor(), opened) << "a second press reuses the window";
    rig.manager->stop();
    strip.settle(200);
    EXPECT_FALSE(editor);
    EXPECT_FALSE(window && window->isVisible());
}

TEST(PluginEditorX11, AnIsolatedStripsOwnEditorAndPresetsRunInItsHostAndTheEditorReopens) {
    REQUIRE_X11_EDITORS();
    QTemporaryDir home; // the host's presets go here: it is started with our environment
    const QByteArray oldHome = qgetenv("HOME");
    qputenv("HOME", home.path().toUtf8());
    IsolatedRig rig;
    Strip strip(rig);
    PluginEditorWindowController* opened = nullptr;
    const PluginComponent dpl{"http://gareus.org/oss/lv2/dpl#stereo", "x42-dpl Digital Peak Limiter Stereo",
                              "x42", false};
    ASSERT_NO_FATAL_FAILURE(openOwnEditor(rig, strip, dpl, "x42-plugins", opened));
    QQuickWindow* shown = opened->window();
    QFile maps(QStringLiteral("/proc/self/maps"));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    EXPECT_FALSE(maps.readAll().contains("dplUI_gl.so")) << "the editor's library is the host's, not ours";
    for (int i = 0; i < 5; ++i) { // the host idles its editor; the plug-in's meters reach it
        rig.render(10);
        strip.settle(50);
    }
    // An editor with nothing to tell costs the window no request: a host that
    // cannot answer (stopped, no period outstanding) holds up no turn of its loop.
    auto* isolated = dynamic_cast<lv2::IsolatedEffect*>(opened->effect().hosted());
    ASSERT_TRUE(isolated);
    ASSERT_EQ(::kill(isolated->hostPid(), SIGSTOP), 0);
    QElapsedTimer stopped;
    stopped.start();
    strip.settle(300);
    EXPECT_LT(stopped.elapsed(), 2500) << "the window waited for the editor's host (a request waits 5 s)";
    // Input Gain turned in the editor (a wheel step on its knob) is the strip's value from then on.
    lv2::HostedEffect* effect = isolated;
    std::uint32_t gain = 0;
    for (const lv2::Parameter& p : effect->parameters())
        if (p.symbol == "gain")
            gain = p.portIndex;
    const float before = effect->parameter(gain);
    const int knobY = shown->property("headerHeight").toInt() + 34;
    EXPECT_EQ(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("--window"),
                                                           QString::number(shown->winId()), QStringLiteral("35"),
                                                           QString::number(knobY), QStringLiteral("click"), QStringLiteral("4")}),
              0);
    // Turned while the host was stopped: going on, it tells of it unasked; that news, not read yet,
    // comes before the answer to the next request, and each is taken for what it is.
    ::kill(isolated->hostPid(), SIGCONT);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    isolated->presets();
    EXPECT_FALSE(isolated->hasFailed());
    EXPECT_TRUE(waitFor([&] {
        rig.render(1);
        return effect->parameter(gain) != before;
    })) << before;
    EXPECT_TRUE(waitFor([&] { return opened->touchedParameter() == QLatin1String("gain"); })) << "for MIDI learning";
    // Kept in a preset by the host, and brought back from it.
    const float turned = effect->parameter(gain);
    ASSERT_TRUE(opened->savePreset(QStringLiteral("Louder")));
    const int louder = int(opened->presetNames().indexOf(QStringLiteral("Louder")));
    ASSERT_GE(louder, 0) << opened->presetNames().join(", ").toStdString();
    effect->setParameter(gain, before);
    rig.render(1);
    QSignalSpy loaded(opened, &PluginEditorWindowController::presetLoaded);
    opened->loadPreset(louder);
    ASSERT_EQ(loaded.size(), 1);
    EXPECT_TRUE(loaded.first().first().toBool());
    EXPECT_EQ(effect->parameter(gain), turned);
    strip.settle(100); // drawn with its learn bar awake
    photograph(shown, "isolated-editor");

    opened->close();
    PluginEditorWindowController* again = strip.open(0);
    ASSERT_TRUE(again);
    EXPECT_TRUE(waitFor([&] { return again->hasOwnView(); })) << "closed and opened again";
    rig.manager->stop();
    strip.settle(200);
    EXPECT_TRUE(rig.strip(0).pluginFault().isEmpty());
    EXPECT_EQ(children(), QString()) << "a host outlived Stop";
    qputenv("HOME", oldHome);
}

TEST(PluginEditorX11, AnEditorThatCrashesTakesOnlyItsHostAndTheStripPlaysDry) {
    REQUIRE_X11_EDITORS();
    IsolatedRig rig;
    rig.strip(0).setComponent(
        PluginComponent{"urn:corvane:test:editorcrash", "Fixture Crashing Editor", "Corvane Tests", false});
    ASSERT_TRUE(rig.start()) << rig.manager->errorMessage().value_or("").toStdString();
    ASSERT_TRUE(rig.manager->isRunning());
    Strip strip(rig);
    ASSERT_TRUE(strip.ok()) << strip.errors().toStdString();

    QPointer<PluginEditorWindowController> editor(strip.open(200)); // the host crashes once it idles the editor
    ASSERT_TRUE(editor);
    // A sanitized host reports the crash before it ends, which takes a while.
    ASSERT_TRUE(waitFor([&] { return !rig.strip(0).pluginFault().isEmpty(); }, std::chrono::seconds(20)));
    EXPECT_EQ(rig.strip(0).pluginFault(), "crashed");
    EXPECT_EQ(rig.manager->warningText(),
              "“Fixture Crashing Editor” on channel 1 crashed - the strip plays its input unprocessed.");
    EXPECT_TRUE(waitFor([&] { return !editor || !editor->window()->isVisible(); })) << "the editor went with its host";
    rig.render(10);
    strip.settle(50);
    EXPECT_TRUE(rig.manager->isRunning());
    EXPECT_TRUE(strip.root()->isVisible()) << "the window lives";
    EXPECT_FALSE(strip.screenshot(QStringLiteral("isolated-editor-crash")).isEmpty());

    EXPECT_TRUE(rig.manager->restartPlugin(0));
    EXPECT_TRUE(rig.strip(0).pluginFault().isEmpty());
    strip.settle(100);
    EXPECT_FALSE(strip.screenshot(QStringLiteral("isolated-editor-restarted")).isEmpty());
    rig.manager->stop();
    strip.settle(200);
    EXPECT_EQ(children(), QString()) << "a host outlived Stop";
}
