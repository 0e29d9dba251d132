// A plug-in that stops responding in the middle of a headless run on a real
// JACK server: the run ends by itself, names the plug-in, and the process
// exits without having to be killed.
#include "tests/integration/CorvaneProcess.h"
#include "tests/integration/HeadlessRig.h"
#include "tests/integration/SignalClient.h"
#include "tests/support/JackServer.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

TEST(HeadlessStall, APlugInThatHangsEndsTheRunWithItsNameAndTheProcessStillExits) {
    JackServer server({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 2});
    ASSERT_TRUE(server.start()) << server.logPath();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString reportPath = dir.filePath(QStringLiteral("report.json"));

    // The fixture hangs in run() after 100 periods, for good.
    CorvaneProcess corvane(QString::fromStdString(server.name()),
                           {{"CORVANE_TEST_STALL_AFTER", "100"},
                            {"LV2_PATH", QStringLiteral(CORVANE_LV2_FIXTURE_DIR)}});
    ASSERT_TRUE(corvane.start({QStringLiteral("--headless"), QStringLiteral("--device"), QStringLiteral("jack:system"),
                               QStringLiteral("--strip"), QStringLiteral("1:in=1,out=1,plugin=urn:corvane:test:stall"),
                               QStringLiteral("--seconds"), QStringLiteral("60"), QStringLiteral("--report"),
                               reportPath}));
    ASSERT_TRUE(corvane.finish(20s)) << "still running, or crashed: " << corvane.standardError().toStdString();
    EXPECT_EQ(corvane.exitCode(), 1);
    const QString message = QStringLiteral("“Fixture Stall” on channel 1 stopped responding - playback was stopped.");
    EXPECT_TRUE(corvane.standardError().contains(message)) << corvane.standardError().toStdString();
    EXPECT_EQ(readReport(reportPath)[QStringLiteral("error")].toString(), message);
}

} // namespace
} // namespace corvane::test
