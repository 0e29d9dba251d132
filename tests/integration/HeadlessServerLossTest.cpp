// A JACK server that dies under a headless run ends the run promptly, with the
// message a user of the window would see.
#include "tests/integration/CorvaneProcess.h"
#include "tests/integration/HeadlessRig.h"
#include "tests/integration/SignalClient.h"
#include "tests/support/JackServer.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

// jackd keeps a machine-wide registry of eight servers and frees a server's
// place only when it stops cleanly, or when a server of the same name starts
// later. A killed server that is never started again holds its place for good,
// and once eight are held no jackd starts at all. So the killed server is
// started and cleanly stopped once more, whatever the test's outcome.
class ReclaimAfterKill {
public:
    explicit ReclaimAfterKill(JackServer& server) : server_(server) {}
    ~ReclaimAfterKill() {
        if (!server_.running() && server_.start())
            server_.stop();
    }
    ReclaimAfterKill(const ReclaimAfterKill&) = delete;
    ReclaimAfterKill& operator=(const ReclaimAfterKill&) = delete;

private:
    JackServer& server_;
};

TEST(HeadlessServerLoss, KilledServerEndsTheRunWithExitOneAndTheDisconnectionMessage) {
    JackServer server({.rate = 48000, .frames = 256, .inputs = 4, .outputs = 4});
    ASSERT_TRUE(server.start()) << server.logPath();
    const ReclaimAfterKill reclaim(server);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString reportPath = dir.filePath(QStringLiteral("report.json"));

    CorvaneProcess corvane(QString::fromStdString(server.name()));
    // Far longer than the test waits: only the server's death may end it.
    ASSERT_TRUE(corvane.start({QStringLiteral("--headless"), QStringLiteral("--device"), QStringLiteral("jack:system"),
                               QStringLiteral("--strip"), QStringLiteral("1:in=1-2,out=1-2"), QStringLiteral("--seconds"),
                               QStringLiteral("60"), QStringLiteral("--report"), reportPath}));
    // The observer stays until the server is gone: a client closing just
    // before the kill has the server update its metadata database, and a
    // server killed in the middle of that leaves the database locked for every
    // jackd that starts after it.
    SignalClient observer("observer", {}, {});
    ASSERT_TRUE(observer.ok());
    ASSERT_FALSE(waitForProgramClient(observer).empty()) << "the program's ports never appeared";
    ASSERT_TRUE(waitForPeriods(observer, 20));

    server.kill();
    ASSERT_TRUE(corvane.finish(5s)) << "after the server was killed: " << corvane.outcome();
    EXPECT_EQ(corvane.exitCode(), 1);
    // The last line; a warning about memory that could not be locked may come before.
    const QString message = corvane.standardError().trimmed().split(QLatin1Char('\n')).last();
    EXPECT_TRUE(message.contains(QStringLiteral("system (JACK)"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("was disconnected"))) << message.toStdString();
    // The report, written all the same, carries the same words.
    EXPECT_EQ(QStringLiteral("corvane: ") + readReport(reportPath)[QStringLiteral("error")].toString(), message);
}

} // namespace
} // namespace corvane::test
