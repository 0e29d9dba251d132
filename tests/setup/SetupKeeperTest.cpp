// The keeper on the virtual device: a last setup whose restore never finished
// is set aside rather than tried again, and what a setup said about itself
// goes when another one is opened, and a relaunch keeps the unsaved mark.
#include "engine/SetupExchange.h"
#include "setup/SetupFile.h"
#include "setup/SetupKeeper.h"
#include "tests/engine/VirtualRig.h"
#include "tests/support/LogCapture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace corvane;

namespace {

// The settings, and the last setup beside them, in a folder of the run's own.
QTemporaryDir& configFolder() {
    static QTemporaryDir folder;
    static const bool set = [] {
        for (auto format : {QSettings::NativeFormat, QSettings::IniFormat})
            QSettings::setPath(format, QSettings::UserScope, folder.path());
        return QDir().mkpath(QFileInfo(SetupKeeper::lastSetupPath()).absolutePath());
    }();
    EXPECT_TRUE(set);
    return folder;
}

corvane::Setup routedSetup() {
    corvane::Setup setup;
    setup.strips[1].inputChannel = 2;
    return setup;
}

} // namespace

TEST(SetupKeeper, ALastSetupWhoseRestoreDiedIsSetAsideNotTriedAgain) {
    configFolder();
    const QString last = SetupKeeper::lastSetupPath();
    const QString marker = SetupKeeper::restoringMarkerPath();
    ASSERT_EQ(writeSetupFile(last, routedSetup()), std::nullopt);
    test::VirtualRig rig;
    SetupKeeper keeper(*rig.manager, rig.clock);

    // While it is given to the strips, the marker says so; then it goes.
    bool markedWhileGiven = false;
    QObject::connect(&rig.strip(1), &ChannelSlot::inputChannelChanged, &keeper,
                     [&] { markedWhileGiven = QFileInfo::exists(marker); });
    ASSERT_TRUE(keeper.restoreLast());
    EXPECT_TRUE(markedWhileGiven);
    EXPECT_FALSE(QFileInfo::exists(marker));

    // A marker left behind: the process died in there.
    rig.strip(1).setInputChannel(std::nullopt);
    QFile(marker).open(QIODevice::WriteOnly);
    test::LogCapture log;
    EXPECT_FALSE(keeper.restoreLast());
    EXPECT_EQ(rig.strip(1).inputChannel(), std::nullopt);
    EXPECT_FALSE(QFileInfo::exists(last));
    EXPECT_FALSE(QFileInfo::exists(marker));
    EXPECT_EQ(std::get<ReadSetup>(readSetupFile(last + ".failed")).setup, routedSetup());
    const QString said = "The last setup did not finish restoring when Corvane last started: it was set aside as " +
                         last + ".failed, and the strips start fresh.";
    EXPECT_EQ(log.count(said), 1);
    EXPECT_EQ(rig.manager->warningText().toStdString(), said.toStdString());
}

TEST(SetupKeeper, ASetupsNotesNameAFewUnknownKeysAndGoWithTheNextSetup) {
    QTemporaryDir dir;
    const QString noisy = dir.filePath("noisy.json");
    QByteArray json = R"({"format": "1.0")";
    for (int i = 0; i < 200000; ++i)
        json += QStringLiteral(", \"k%1\": 0").arg(i, 6, 10, QLatin1Char('0')).toLatin1();
    QFile file(noisy);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(json + "}") > 0);
    file.close();
    const QString clean = dir.filePath("clean.json");
    ASSERT_EQ(writeSetupFile(clean, routedSetup()), std::nullopt);

    test::VirtualRig rig;
    SetupKeeper keeper(*rig.manager, rig.clock);
    keeper.setManagedBySession(true); // nothing remembered
    ASSERT_TRUE(keeper.openPath(noisy, false));
    EXPECT_EQ(rig.manager->warningText().toStdString(), "Entries this version does not know were ignored: k000000, "
                                                        "k000001, k000002, k000003, k000004 … and 199,995 more.");
    ASSERT_TRUE(keeper.openPath(clean, false));
    EXPECT_EQ(rig.manager->warningText().toStdString(), "");
}

TEST(SetupKeeper, ARelaunchKeepsTheUnsavedMark) {
    configFolder();
    QTemporaryDir dir;
    const QString gig = dir.filePath("gig.json");
    auto relaunch = [](auto&& then) {
        test::VirtualRig rig;
        SetupKeeper keeper(*rig.manager, rig.clock);
        ASSERT_TRUE(keeper.restoreLast());
        then(rig, keeper);
        ASSERT_TRUE(keeper.rememberNow());
    };
    {
        test::VirtualRig rig;
        SetupKeeper keeper(*rig.manager, rig.clock);
        ASSERT_TRUE(keeper.saveAs(QUrl::fromLocalFile(gig)));
        rig.strip(3).setOutputChannel(1);
        ASSERT_TRUE(keeper.rememberNow());
    }
    relaunch([&](test::VirtualRig& rig, SetupKeeper& keeper) {
        EXPECT_EQ(keeper.filePath(), gig);
        EXPECT_EQ(rig.strip(3).outputChannel(), 1);
        EXPECT_TRUE(keeper.isDirty());
        ASSERT_TRUE(keeper.save());
    });
    relaunch([](test::VirtualRig&, SetupKeeper& keeper) { EXPECT_FALSE(keeper.isDirty()); });
}
