// The dropout count a headless run reports is the server's own xrun count for
// the time the program played, including xruns another client causes.
#include "tests/integration/CorvaneProcess.h"
#include "tests/integration/HeadlessRig.h"
#include "tests/integration/SignalClient.h"
#include "tests/integration/XrunWitness.h"
#include "tests/support/EventLoop.h"
#include "tests/support/JackServer.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

TEST(HeadlessDropouts, ReportedCountMatchesTheXrunsTheServerAnnouncedWhileTheProgramPlayed) {
    JackServer server({.rate = 48000, .frames = 256, .inputs = 4, .outputs = 4});
    ASSERT_TRUE(server.start()) << server.logPath();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString reportPath = dir.filePath(QStringLiteral("report.json"));

    // The witness listens before the program starts and until its ports are gone.
    XrunWitness witness("witness", "system:capture_1");
    ASSERT_TRUE(witness.ok());
    SignalClient observer("observer", {}, {});
    ASSERT_TRUE(observer.ok());
    CorvaneProcess corvane(QString::fromStdString(server.name()));
    ASSERT_TRUE(corvane.start({QStringLiteral("--headless"), QStringLiteral("--device"), QStringLiteral("jack:system"),
                               QStringLiteral("--buffer"), QStringLiteral("256"), QStringLiteral("--strip"),
                               QStringLiteral("1:in=1,out=2"), QStringLiteral("--strip"), QStringLiteral("2:in=2,out=1"),
                               QStringLiteral("--report"), reportPath}));
    ASSERT_FALSE(waitForProgramClient(observer).empty()) << "the program's ports never appeared";

    // At 256 frames the dummy driver rarely misses a deadline by itself; three
    // overruns of about four periods each make sure the count has something to
    // count; the run plays until it is interrupted.
    ASSERT_TRUE(waitForPeriods(observer, 20));
    for (int burst = 0; burst < 3; ++burst) {
        witness.overrun(1, 20ms);
        ASSERT_TRUE(waitFor([&] { return witness.overrunsPending() == 0; }));
        ASSERT_TRUE(waitForPeriods(observer, 40));
    }
    // Every xrun announced so far fell inside the run and long before its end:
    // the program must have counted each of them.
    const int surelyCounted = witness.whileConnected();

    corvane.interrupt();
    ASSERT_TRUE(corvane.finish(10s)) << corvane.standardError().toStdString();
    EXPECT_EQ(corvane.exitCode(), 130) << corvane.standardError().toStdString();
    // The window closes with the disconnection notice.
    EXPECT_TRUE(waitFor([&] { return witness.disconnects() == 1; }, 5000ms));
    const int announced = witness.whileConnected();
    const int dropouts = readReport(reportPath)[QStringLiteral("dropouts")].toInt(-1);
    RecordProperty("dropouts", dropouts);
    RecordProperty("xruns", announced);
    EXPECT_EQ(witness.connects(), 1);
    EXPECT_GE(surelyCounted, 1) << "the overruns caused no xrun: the comparison would prove nothing";
    // The report is written a moment before the ports go, so an xrun in that
    // moment reaches only the witness; and the program counts from its start,
    // a moment before it connects its ports, so a busy machine's xrun in that
    // moment reaches only the program. Nothing it counts came before the
    // witness began to listen. On a quiet machine all three are equal.
    EXPECT_GE(dropouts, surelyCounted) << "announced while connected: " << announced;
    EXPECT_LE(dropouts, witness.total()) << "announced while connected: " << announced;
}

} // namespace
} // namespace corvane::test
