// The window's setup: the last one back at launch (from the run's own config
// folder, see UiTestMain), remembered a moment after a change, and the File
// menu's Save As and Open with the file a dialog would have chosen, and Save
// asking for a file only when the setup has none.
#include "setup/SetupFile.h"
#include "setup/SetupKeeper.h"
#include "tests/engine/VirtualRig.h"
#include "ui/CorvaneApp.h"

#include <QDir>
#include <QFileInfo>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <optional>

using namespace corvane;
using namespace corvane::test;

namespace {

void settle() {
    for (int i = 0; i < 5; ++i)
        QTest::qWait(10);
}

// Stands in for the file dialog: remembers what it was asked, and answers
// with the file a person would have chosen.
struct FakeDialog {
    std::optional<SetupFileChooser::Purpose> asked;
    std::function<void(const QUrl&)> answer;
    SetupFileChooser::Ask ask() {
        return [this](SetupFileChooser::Purpose purpose, const QUrl&, QWindow*, std::function<void(const QUrl&)> chosen) {
            asked = purpose;
            answer = std::move(chosen);
        };
    }
    // Triggers the menu's action, then chooses `file` in the dialog it asked for.
    void choose(QQuickWindow* window, const char* action, SetupFileChooser::Purpose purpose, const QString& file) {
        asked.reset();
        auto* a = window->findChild<QObject*>(action);
        ASSERT_TRUE(a);
        ASSERT_TRUE(QMetaObject::invokeMethod(a, "trigger"));
        settle();
        ASSERT_EQ(asked, purpose) << action;
        answer(QUrl::fromLocalFile(file));
        settle();
    }
};

} // namespace

TEST(SetupWindow, RestoredAtLaunchRememberedSavedAndOpened) {
    QTemporaryDir dir;
    corvane::Setup last;
    last.deviceUid = QString::fromStdString(kVirtual);
    last.deviceName = "Virtual Audio Device";
    last.strips[1] = {2, true, 5, false, std::nullopt, true};
    ASSERT_TRUE(QDir().mkpath(QFileInfo(SetupKeeper::lastSetupPath()).absolutePath()));
    ASSERT_EQ(writeSetupFile(SetupKeeper::lastSetupPath(), last), std::nullopt);
    QSettings().remove(SetupKeeper::kFileKey);

    VirtualRig rig;
    SystemLoadMonitor monitor;
    InterfaceScale scale{rig.clock};
    SetupKeeper keeper(*rig.manager, rig.clock);
    ASSERT_TRUE(keeper.restoreLast());
    QQmlApplicationEngine engine;
    prepareQmlEngine(engine);
    FakeDialog dialog;
    SetupFileChooser files(keeper, dialog.ask());
    QQuickWindow* window = loadMainWindow(engine, *rig.manager, monitor, scale, &keeper, &files);
    ASSERT_TRUE(window);
    settle();
    EXPECT_EQ(rig.strip(1).inputChannel(), 2);
    EXPECT_TRUE(rig.strip(1).inputStereo());
    EXPECT_TRUE(rig.strip(1).bypass());
    EXPECT_FALSE(rig.manager->isRunning());
    EXPECT_EQ(window->title(), "Corvane");

    // A change is written to the last setup once the edits have paused.
    rig.strip(4).setOutputChannel(6);
    rig.clock.advance(SetupKeeper::kRememberDelay / 2);
    rig.strip(4).setInputChannel(1);
    rig.clock.advance(SetupKeeper::kRememberDelay / 2);
    auto remembered = [] { return std::get<ReadSetup>(readSetupFile(SetupKeeper::lastSetupPath())).setup; };
    EXPECT_EQ(remembered().strips[4].outputChannel, std::nullopt);
    rig.clock.advance(SetupKeeper::kRememberDelay);
    EXPECT_EQ(remembered().strips[4].outputChannel, 6);
    EXPECT_EQ(remembered().strips[4].inputChannel, 1);

    // Save As names the window; Open brings the saved strips back.
    const QString gig = dir.filePath("Friday Gig.json");
    dialog.choose(window, "saveSetupAsAction", SetupFileChooser::Purpose::Save, gig);
    EXPECT_EQ(keeper.filePath(), gig);
    EXPECT_EQ(window->title(), "Friday Gig — Corvane");
    rig.strip(4).setOutputChannel(std::nullopt);
    settle();
    EXPECT_EQ(window->title(), "Friday Gig * — Corvane");

    // The File menu, photographed open.
    QObject* menu = nullptr;
    for (QObject* o : window->findChildren<QObject*>())
        if (o->inherits("QQuickMenu") && o->property("title").toString() == "&File")
            menu = o;
    ASSERT_TRUE(menu);
    QMetaObject::invokeMethod(menu, "open");
    QTest::qWait(300);
    const QString folder = QStringLiteral(CORVANE_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_TRUE(window->grabWindow().save(QDir(folder).filePath("main-window-file-menu.png")));
    QMetaObject::invokeMethod(menu, "close");
    settle();

    dialog.choose(window, "openSetupAction", SetupFileChooser::Purpose::Open, gig);
    EXPECT_EQ(rig.strip(4).outputChannel(), 6);
    EXPECT_EQ(window->title(), "Friday Gig — Corvane");

    for (QObject* root : engine.rootObjects())
        delete root;
}

TEST(SetupWindow, SaveAsksForAFileOnlyWhileTheSetupHasNone) {
    QTemporaryDir dir;
    VirtualRig rig;
    SetupKeeper keeper(*rig.manager, rig.clock);
    FakeDialog dialog;
    SetupFileChooser files(keeper, dialog.ask());
    ASSERT_FALSE(keeper.hasFile());
    files.save();
    ASSERT_EQ(dialog.asked, SetupFileChooser::Purpose::Save);
    const QString gig = dir.filePath("gig.json");
    dialog.answer(QUrl::fromLocalFile(gig));
    EXPECT_EQ(keeper.filePath(), gig);

    dialog.asked.reset();
    rig.strip(2).setOutputChannel(5);
    files.save();
    EXPECT_FALSE(dialog.asked);
    EXPECT_EQ(std::get<ReadSetup>(readSetupFile(gig)).setup.strips[2].outputChannel, 5);

    // Its file cannot be written: the keeper says so, nothing is asked.
    ASSERT_TRUE(dir.remove());
    files.save();
    EXPECT_FALSE(dialog.asked);
    EXPECT_FALSE(keeper.problem().isEmpty());
}
