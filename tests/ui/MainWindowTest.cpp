// The main window as a user meets it: the size it opens at, the zoom keys,
// the shape a hand resize snaps back to, the stored factor, the transport
// command with its shortcut; and its setup: remembered a moment after a change
// (in the run's own config folder, see UiTestMain), the File menu's Save As and
// Open with the file a dialog would have chosen, and Save asking for a file
// only when the setup has none.
// Offscreen, on a 2560 × 1600 screen (UiTestMain).
#include "setup/SetupFile.h"
#include "setup/SetupKeeper.h"
#include "tests/engine/VirtualRig.h"
#include "tests/support/EventLoop.h"
#include "tests/support/ManualTime.h"
#include "ui/CorvaneApp.h"
#include "ui/InterfaceScale.h"
#include "ui/SetupFileChooser.h"
#include "ui/StripController.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QQmlListReference>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QVariant>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <limits>
#include <optional>
#include <string_view>
#include <variant>

using namespace corvane;
using namespace corvane::test;

namespace {

void settle() {
    for (int i = 0; i < 5; ++i)
        QTest::qWait(10);
}

void photograph(QQuickWindow* window, const char* name) {
    const QString folder = QStringLiteral(CORVANE_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_TRUE(window->grabWindow().save(QDir(folder).filePath(QString::fromLatin1(name) + ".png")));
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

// The File menu's commands over the virtual device, without a window.
struct FileCommands {
    VirtualRig rig;
    SetupKeeper keeper{*rig.manager, rig.clock};
    FakeDialog dialog;
    SetupFileChooser files{keeper, dialog.ask()};
};

// The main window over a manager on the virtual device, built the way the
// application builds it; with a setup keeper and the dialog's stand-in when asked.
struct Shell {
    VirtualRig rig;
    SystemLoadMonitor monitor;
    InterfaceScale scale{rig.clock};
    std::optional<SetupKeeper> keeper;
    FakeDialog dialog;
    std::optional<SetupFileChooser> files;
    QQmlApplicationEngine engine;
    QQuickWindow* window = nullptr;

    explicit Shell(const QVariant& stored = {}, bool withSetup = false) {
        QSettings settings;
        if (stored.isValid())
            settings.setValue(InterfaceScale::kSettingsKey, stored);
        else
            settings.remove(InterfaceScale::kSettingsKey);
        settings.sync();
        if (withSetup) {
            keeper.emplace(*rig.manager, rig.clock);
            files.emplace(*keeper, dialog.ask());
        }
        prepareQmlEngine(engine);
        window = loadMainWindow(engine, *rig.manager, monitor, scale, keeper ? &*keeper : nullptr,
                                files ? &*files : nullptr);
        if (window) {
            window->requestActivate();
            (void)QTest::qWaitForWindowActive(window);
        }
        settle();
        // Shown, with its frame known: fitted to the screen once more.
        rig.clock.advance(InterfaceScale::kSettleDelay);
        settle();
    }
    ~Shell() {
        for (QObject* root : engine.rootObjects())
            delete root;
    }

    // What the canvas gets: the window without the menu bar.
    QSize content() const { return {window->width(), window->height() - scale.chromeHeight()}; }
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier) {
        QTest::keyClick(window, key, modifiers);
        settle();
    }
    double stored() const { return QSettings().value(InterfaceScale::kSettingsKey).toDouble(); }
};

} // namespace

TEST(InterfaceScale, StepsFromAnyFactorAndWhatAStoredSettingRestores) {
    struct Step {
        double from;
        std::optional<double> in, out;
    };
    for (const Step& s : {Step{1.0, 1.1, 0.9}, Step{1.95, 2.0, 1.75}, Step{1.99, {}, 1.75}, Step{2.0, {}, 1.75},
                          Step{0.76, 0.9, {}}, Step{0.75, 0.9, {}}, Step{1.3, 1.5, 1.25}, Step{1.005, 1.1, 0.9}}) {
        EXPECT_EQ(InterfaceScale::stepUp(s.from), s.in) << s.from;
        EXPECT_EQ(InterfaceScale::stepDown(s.from), s.out) << s.from;
    }

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const QVariant& garbage : {QVariant(), QVariant(0.0), QVariant(-1.5), QVariant(nan), QVariant(inf),
                                    QVariant(-inf), QVariant("abc"), QVariant("nan"), QVariant("")})
        EXPECT_EQ(InterfaceScale::restoredFactor(garbage), 1.0) << garbage.toString().toStdString();
    EXPECT_EQ(InterfaceScale::restoredFactor(0.5), 0.75);
    EXPECT_EQ(InterfaceScale::restoredFactor(QVariant("1.5")), 1.5);

    // Fitted to the screen, bars included: 3.0 on 1440 × 875 under a 28-pixel
    // bar is 847 / 664.
    EXPECT_EQ(InterfaceScale::contentSizeFor(3.0, QMargins(0, 28, 0, 0), QRect(0, 0, 1440, 875)), QSize(1276, 847));
    EXPECT_EQ(InterfaceScale::contentSizeFor(1e300, {}, QRect(0, 0, 1920, 1080)), QSize(1627, 1080));
    EXPECT_EQ(InterfaceScale::contentSizeFor(0.5, {}, QRect(0, 0, 1920, 1080)), QSize(750, 498));
    EXPECT_EQ(InterfaceScale::contentSizeFor(1.1, {}, QRect()), QSize(1100, 730));
}

TEST(MainWindow, OpensAtTheStoredFactorZoomsByKeyAndKeepsItsShape) {
    // Stored 1.5: as it was. Absurdly large: as large as fits, the whole frame on the screen.
    for (const double stored : {1.5, 1e12}) {
        Shell shell(stored);
        ASSERT_TRUE(shell.window);
        const QRect screen = shell.window->screen()->availableGeometry(), frame = shell.window->frameGeometry();
        EXPECT_TRUE(screen.contains(frame)) << stored;
        if (stored == 1.5)
            EXPECT_EQ(shell.content(), QSize(1500, 996));
        else
            EXPECT_NEAR(frame.height(), screen.height(), 1);
        EXPECT_NEAR(double(shell.content().width()) / shell.content().height(), 1000.0 / 664, 0.002);
    }

    Shell shell;
    ASSERT_TRUE(shell.window);
    ASSERT_GT(shell.scale.chromeHeight(), 0); // the menu bar sits above the content
    shell.window->setPosition(100, 50);
    settle();
    const QPoint corner = shell.window->position();
    struct Key {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        QSize content;
    };
    for (const Key& k : {Key{Qt::Key_Plus, Qt::ControlModifier, {1100, 730}},
                         Key{Qt::Key_Equal, Qt::ControlModifier, {1250, 830}},
                         Key{Qt::Key_Plus, Qt::ControlModifier | Qt::AltModifier, {1250, 830}},
                         Key{Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier, {1500, 996}},
                         Key{Qt::Key_Minus, Qt::ControlModifier, {1250, 830}},
                         Key{Qt::Key_0, Qt::ControlModifier, {1000, 664}}}) {
        shell.press(k.key, k.modifiers);
        EXPECT_EQ(shell.content(), k.content) << QKeySequence(k.key | k.modifiers).toString().toStdString();
        EXPECT_EQ(shell.window->position(), corner);
        EXPECT_DOUBLE_EQ(shell.stored(), k.content.width() / 1000.0);
    }

    // A hand resize snaps to the design's shape once it has settled.
    shell.window->resize(1300, 700);
    settle();
    EXPECT_EQ(shell.window->size(), QSize(1300, 700));
    shell.rig.clock.advance(InterfaceScale::kSettleDelay);
    settle();
    EXPECT_EQ(shell.content(), QSize(1300, 863));
    EXPECT_DOUBLE_EQ(shell.stored(), 1.3);
    shell.press(Qt::Key_Plus);
    EXPECT_EQ(shell.content(), QSize(1500, 996));

    // A sheet of the main window passes them on; another window of the
    // application (a plug-in editor) keeps them.
    const auto pressIn = [&](QQuickWindow& other, Qt::Key key) {
        other.resize(300, 200);
        other.show();
        other.requestActivate();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
        QTest::keyClick(&other, key, Qt::ControlModifier);
        settle();
        other.close();
    };
    QQuickWindow sheet, editor;
    sheet.setTransientParent(shell.window);
    pressIn(sheet, Qt::Key_Minus);
    EXPECT_EQ(shell.content(), QSize(1250, 830));
    pressIn(editor, Qt::Key_Equal);
    EXPECT_EQ(shell.content(), QSize(1250, 830));

    // Full screen (F11): the screen decides the size; zoom and storing rest.
    shell.window->requestActivate();
    ASSERT_TRUE(QTest::qWaitForWindowActive(shell.window));
    shell.press(Qt::Key_F11, Qt::NoModifier);
    ASSERT_EQ(shell.window->visibility(), QWindow::FullScreen);
    const QSize full = shell.window->size();
    shell.press(Qt::Key_Minus);
    EXPECT_EQ(shell.window->size(), full);
    EXPECT_DOUBLE_EQ(shell.stored(), 1.25);
    shell.press(Qt::Key_F11, Qt::NoModifier);
    EXPECT_NE(shell.window->visibility(), QWindow::FullScreen);
}

TEST(MainWindow, CtrlRAndTheTransportItemStartAndStopTheEngine) {
    Shell shell;
    ASSERT_TRUE(shell.window);
    auto* transport = shell.window->findChild<QObject*>(QStringLiteral("transportAction"));
    ASSERT_TRUE(transport);
    auto& manager = *shell.rig.manager;
    shell.rig.route(0, 0, false, 0, false);
    EXPECT_EQ(transport->property("text").toString(), QStringLiteral("Start"));

    // The item starts, Ctrl+R stops (on a real X server: the Xvfb check).
    ASSERT_TRUE(QMetaObject::invokeMethod(transport, "trigger"));
    ASSERT_TRUE(runUntil(shell.rig.clock, [&] { return !manager.isStarting(); }));
    EXPECT_TRUE(manager.isRunning()) << manager.errorText().toStdString();
    EXPECT_EQ(transport->property("text").toString(), QStringLiteral("Stop"));

    // Photographs of the whole window playing, with levels on the routed strip
    // and a dropout counted, at 100 % and at 150 %.
    shell.rig.device->forceOverload(kVirtual);
    ASSERT_TRUE(runUntil(shell.rig.clock, [&] { return manager.audioDropoutCount() == 1; }));
    shell.rig.strip(0).setInputLevel({0.62f, 0.41f});
    shell.rig.strip(0).setOutputLevel({0.93f, 0.78f});
    QTest::qWait(150); // the meters' glide
    photograph(shell.window, "main-window-running-zoom-1.0");
    for (int step = 0; step < 3; ++step) // 1.1, 1.25, 1.5
        shell.press(Qt::Key_Plus);
    EXPECT_EQ(shell.content(), QSize(1500, 996));
    QTest::qWait(150);
    photograph(shell.window, "main-window-running-zoom-1.5");
    shell.press(Qt::Key_R);
    EXPECT_FALSE(manager.isRunning());
}


// The first shown item named `name` in `window`, pop-ups included.
QQuickItem* shown(QQuickWindow* window, const char* name) {
    QList<QQuickItem*> pending{window->contentItem()};
    while (!pending.isEmpty()) {
        QQuickItem* item = pending.takeFirst();
        if (item->isVisible() && item->objectName() == QLatin1String(name))
            return item;
        pending << item->childItems();
    }
    return nullptr;
}

// What the scene shows of `item`: its rectangle as drawn, zoom included.
QRectF drawn(const QQuickItem* item) { return item->mapRectToScene(QRectF(0, 0, item->width(), item->height())); }

TEST(MainWindow, ListsAndAlertsOpenAtTheZoomOfWhatOpenedThem) {
    for (const double zoom : {0.75, 1.0, 2.0}) {
        Shell shell(zoom);
        ASSERT_TRUE(shell.window);
        ASSERT_EQ(shell.content().width(), qRound(1000 * zoom));
        shell.rig.route(0, 0, false, 0, false);
        settle();
        // Fusion's lists open over their picker, ours just under it; each as wide as its picker.
        for (const char* name : {"devicePicker", "ratePicker", "bufferPicker", "outputChannelPicker"}) {
            auto* picker = shown(shell.window, name);
            ASSERT_TRUE(picker) << name;
            auto* popup = picker->property("popup").value<QObject*>();
            QMetaObject::invokeMethod(popup, "open");
            settle();
            const QRectF list = drawn(popup->property("background").value<QQuickItem*>()), at = drawn(picker);
            EXPECT_NEAR(list.left(), at.left(), 1) << name << " at " << zoom;
            EXPECT_NEAR(list.width(), at.width(), 1) << name << " at " << zoom;
            EXPECT_GE(list.top(), at.top() - 1) << name << " at " << zoom;
            EXPECT_LE(list.top(), at.bottom() + 3 * zoom) << name << " at " << zoom;
            if (name == std::string_view("outputChannelPicker"))
                photograph(shell.window, qPrintable(QStringLiteral("main-window-channel-list-zoom-%1").arg(zoom, 0, 'f', 2)));
            QMetaObject::invokeMethod(popup, "close");
        }
        // An alert: drawn at the zoom, in the middle of the window.
        auto* settings = shown(shell.window, "settingsButton");
        const QPointF press = drawn(settings).center();
        QTest::mouseClick(shell.window, Qt::LeftButton, {}, press.toPoint());
        settle();
        // The alert's box: the pop-up's own item, in the window's overlay.
        QQuickItem* alert = shown(shell.window, "notRunningMessage");
        while (alert && alert->parentItem() && !alert->parentItem()->inherits("QQuickOverlay"))
            alert = alert->parentItem();
        ASSERT_TRUE(alert) << zoom;
        const QRectF box = drawn(alert);
        EXPECT_NEAR(box.width(), 300 * zoom, 1) << zoom;
        EXPECT_NEAR(box.center().x(), shell.window->width() / 2.0, 1) << zoom;
        EXPECT_NEAR(box.center().y(), shell.window->height() / 2.0, 1) << zoom;
    }
}

// A plug-in that crashes in its own process leaves the window as it was but
// for its strip: the plug-in button shows the crash and offers the restart,
// the banner says it, and a press on the button brings the plug-in back.
TEST(MainWindow, AStripWhosePlugInCrashedShowsItAndItsButtonRestartsIt) {
    ASSERT_EQ(setenv("LV2_PATH", CORVANE_LV2_FIXTURE_DIR, 1), 0); // each host reads it as it starts
    Shell shell;
    ASSERT_TRUE(shell.window);
    auto& manager = *shell.rig.manager;
    manager.setIsolation(true);
    manager.setPluginHostProgram(CORVANE_PLUGIN_HOST);
    manager.setBufferFrames(4096); // a deadline a busy machine keeps
    shell.rig.route(0, 0, false, 0, false);
    ChannelSlot& slot = shell.rig.strip(0);
    slot.setComponent(PluginComponent{"urn:corvane:test:segfault", "Fixture Segfault", "Corvane Tests", false});
    ASSERT_TRUE(shell.rig.start());
    ASSERT_TRUE(manager.isRunning()) << manager.errorText().toStdString();
    slot.effect()->setParameter(2, 2.0f); // "after": two periods, then the crash
    // A period at a time: one the host answers late, it never runs. Generous
    // for a sanitized host on a busy machine.
    auto crashes = [&] {
        return waitFor(
            [&] {
                shell.rig.render(1);
                drainEvents();
                return !slot.pluginFault().isEmpty();
            },
            std::chrono::seconds(20));
    };
    auto* banner = shell.window->findChild<QObject*>(QStringLiteral("warningBanner"));
    ASSERT_TRUE(banner);
    QQuickItem* button = shown(shell.window, "pluginButton"); // the first strip's
    ASSERT_TRUE(button);
    const StripController* controller = nullptr;
    for (QQuickItem* item = button; item && !controller; item = item->parentItem())
        controller = item->findChild<StripController*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_TRUE(controller);
    ASSERT_EQ(controller->slot(), &slot);

    ASSERT_TRUE(crashes());
    settle();
    const QString told = QStringLiteral("“Fixture Segfault” on channel 1 crashed - the strip plays its input unprocessed.");
    EXPECT_EQ(banner->property("text").toString(), told);
    EXPECT_EQ(controller->pluginFaultMessage(), told) << "the plug-in button's tooltip";
    EXPECT_TRUE(shown(shell.window, "restartPluginOffer"));
    EXPECT_EQ(shown(shell.window, "pluginSymbol")->property("name").toString(), "exclamationmark.triangle");
    QTest::mouseMove(shell.window, drawn(button).center().toPoint());
    QTest::qWait(150); // the tooltip
    photograph(shell.window, "plugin-crashed");

    QTest::mouseClick(shell.window, Qt::LeftButton, {}, drawn(button).center().toPoint());
    settle();
    EXPECT_EQ(slot.pluginFault(), "");
    EXPECT_FALSE(shown(shell.window, "restartPluginOffer"));
    EXPECT_EQ(banner->property("text").toString(), "");
    EXPECT_FALSE(shown(shell.window, "pluginPickerSheet")) << "the press restarted, it did not choose";
    // It plays again, with the values it had: two periods on, it crashes again.
    EXPECT_TRUE(crashes());
    manager.stop();
}

TEST(MainWindow, AMenuClosedWithEscapeLetsGoOfItsTitle) {
    Shell shell;
    ASSERT_TRUE(shell.window);
    auto* bar = shell.window->findChild<QQuickItem*>("menuBar");
    ASSERT_TRUE(bar);
    const QQmlListReference menus(bar, "menus");
    QList<QQuickItem*> titles;
    for (qsizetype i = 0; i < menus.count(); ++i) {
        QQuickItem* title = nullptr;
        QMetaObject::invokeMethod(bar, "itemAt", Q_RETURN_ARG(QQuickItem*, title), Q_ARG(int, int(i)));
        ASSERT_TRUE(title);
        title->setProperty("hoverEnabled", true); // offscreen, controls take no hover by default
        titles << title;
    }
    const auto centre = [](QQuickItem* item) { return drawn(item).center().toPoint(); };
    const auto open = [&](int i) { return menus.at(i)->property("visible").toBool(); };

    QTest::keyClick(shell.window, Qt::Key_Tab);
    QQuickItem* focused = shell.window->activeFocusItem();
    ASSERT_TRUE(focused);
    QTest::mouseMove(shell.window, centre(titles[0]));
    QTest::mouseClick(shell.window, Qt::LeftButton, {}, centre(titles[0]));
    settle();
    ASSERT_TRUE(open(0));
    QTest::keyClick(shell.window, Qt::Key_Escape);
    settle();
    EXPECT_FALSE(open(0));
    EXPECT_FALSE(titles[0]->property("highlighted").toBool());
    EXPECT_EQ(shell.window->activeFocusItem(), focused); // Tab goes on from where it was
    // Crossing the next title opens nothing.
    QTest::mouseMove(shell.window, centre(titles[1]));
    settle();
    EXPECT_FALSE(open(1));

    // Clicking a title closes its menu as it opened it.
    QTest::mouseClick(shell.window, Qt::LeftButton, {}, centre(titles[1]));
    settle();
    ASSERT_TRUE(open(1));
    QTest::mouseClick(shell.window, Qt::LeftButton, {}, centre(titles[1]));
    settle();
    EXPECT_FALSE(open(1));
}

// Restoring the last setup at launch is the keeper's own test.
TEST(SetupWindow, RememberedSavedAndOpenedThroughTheFileMenu) {
    QTemporaryDir dir;
    QSettings().remove(SetupKeeper::kFileKey);
    Shell shell({}, true);
    QQuickWindow* window = shell.window;
    ASSERT_TRUE(window);
    VirtualRig& rig = shell.rig;
    EXPECT_EQ(window->title(), "Corvane");

    // A change is written to the last setup once the edits have paused.
    const QString last = SetupKeeper::lastSetupPath();
    QFile::remove(last);
    rig.strip(4).setOutputChannel(6);
    rig.clock.advance(SetupKeeper::kRememberDelay / 2);
    rig.strip(4).setInputChannel(1);
    rig.clock.advance(SetupKeeper::kRememberDelay / 2);
    EXPECT_FALSE(QFileInfo::exists(last));
    rig.clock.advance(SetupKeeper::kRememberDelay);
    const auto remembered = readSetupFile(last);
    ASSERT_TRUE(std::holds_alternative<ReadSetup>(remembered));
    EXPECT_EQ(std::get<ReadSetup>(remembered).setup.strips[4].outputChannel, 6);
    EXPECT_EQ(std::get<ReadSetup>(remembered).setup.strips[4].inputChannel, 1);

    // Save As names the window; Open brings the saved strips back.
    const QString gig = dir.filePath("Friday Gig.json");
    shell.dialog.choose(window, "saveSetupAsAction", SetupFileChooser::Purpose::Save, gig);
    EXPECT_EQ(shell.keeper->filePath(), gig);
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
    photograph(window, "main-window-file-menu");
    QMetaObject::invokeMethod(menu, "close");
    settle();

    // Open with changes unsaved asks first; Don't Save goes on to the file.
    shell.dialog.asked.reset();
    auto* open = window->findChild<QObject*>("openSetupAction");
    ASSERT_TRUE(open && QMetaObject::invokeMethod(open, "trigger"));
    QTest::qWait(300);
    EXPECT_FALSE(shell.dialog.asked);
    auto* dontSave = window->findChild<QQuickItem*>("dontSave");
    ASSERT_TRUE(dontSave && dontSave->isVisible());
    photograph(window, "unsaved-changes-question");
    QTest::mouseClick(window, Qt::LeftButton, {}, dontSave->mapToScene(dontSave->boundingRect().center()).toPoint());
    settle();
    ASSERT_EQ(shell.dialog.asked, SetupFileChooser::Purpose::Open);
    shell.dialog.answer(QUrl::fromLocalFile(gig));
    settle();
    EXPECT_EQ(rig.strip(4).outputChannel(), 6);
    EXPECT_EQ(window->title(), "Friday Gig — Corvane");
}

TEST(SetupWindow, UnsavedChangesAreAskedAboutBeforeTheyAreReplacedOrLeft) {
    QTemporaryDir dir;
    FileCommands commands;
    auto& [rig, keeper, dialog, files] = commands;
    int approved = 0;
    QObject::connect(&files, &SetupFileChooser::closeApproved, [&] { ++approved; });
    EXPECT_TRUE(files.mayClose());
    rig.strip(2).setOutputChannel(5);

    // Cancel stays; Save without a file asks for one, saves, then goes on to Open.
    files.chooseToOpen();
    EXPECT_TRUE(files.asking());
    EXPECT_EQ(files.question(), "Save changes to “Untitled”?");
    files.answer(SetupFileChooser::Answer::Cancel);
    EXPECT_FALSE(files.asking() || dialog.asked);
    files.chooseToOpen();
    files.answer(SetupFileChooser::Answer::Save);
    ASSERT_EQ(dialog.asked, SetupFileChooser::Purpose::Save);
    const QString gig = dir.filePath("gig.json");
    auto saveAs = dialog.answer;
    saveAs(QUrl::fromLocalFile(gig));
    EXPECT_EQ(std::get<ReadSetup>(readSetupFile(gig)).setup.strips[2].outputChannel, 5);
    EXPECT_EQ(dialog.asked, SetupFileChooser::Purpose::Open);

    // Closing waits for the answer; in a session it never asks.
    rig.strip(2).setOutputChannel(6);
    EXPECT_FALSE(files.mayClose());
    EXPECT_EQ(approved, 0);
    files.answer(SetupFileChooser::Answer::DontSave);
    EXPECT_EQ(approved, 1);
    EXPECT_TRUE(files.mayClose());
    SetupFileChooser sessionFiles(keeper, dialog.ask());
    keeper.setManagedBySession(true);
    EXPECT_TRUE(sessionFiles.mayClose());
}

TEST(SetupWindow, SaveAsksForAFileOnlyWhileTheSetupHasNone) {
    QTemporaryDir dir;
    FileCommands commands;
    auto& [rig, keeper, dialog, files] = commands;
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
