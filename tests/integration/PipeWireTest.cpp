// The program on PipeWire, through PipeWire's libjack, as most desktop users run it.
#include "tests/integration/HeadlessRig.h"
#include "tests/support/PipeWireServer.h"

#include <QThread>
#include <gtest/gtest.h>

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

QProcessEnvironment withEngineLog(QProcessEnvironment environment) {
    environment.insert("QT_LOGGING_RULES", "corvane.engine.info=true");
    return environment;
}

const QStringList kStrip{"--device", "jack:system", "--strip", "1:in=1,out=1"};

TEST(PipeWire, RunsKeepGoingAtTheSizeTheServerReallyAppliesAndEndByNameWhenPipeWireGoes) {
    PipeWireServer server;
    ASSERT_TRUE(server.start()) << server.logPath();
    {
        // PipeWire applies a requested size later, when it sees fit: mostly
        // within a second, but after an earlier client left it sometimes keeps
        // the old one for the whole run. Neither our request nor its late
        // arrival may stop the run, and the report carries the size the server
        // really ran at: the new one exactly when the server said so (the log's
        // line), and the round trip of that size (PipeWire's ports hold one
        // period each way). The run plays until the new size arrived, or four
        // seconds without it.
        HeadlessRun run(withEngineLog(server.clientEnvironment()));
        ASSERT_TRUE(run.start(kStrip + QStringList{"--buffer", "64"}));
        // Locking memory (or saying why not) is the last thing a start does.
        ASSERT_TRUE(run.corvane.waitForStandardError("Memory ", 20s)) << run.corvane.standardError().toStdString();
        const bool applied = run.corvane.waitForStandardError("now runs periods of 64 frames", 4s);
        if (applied) {
            // The latency estimate of the new size follows off the main
            // thread, and nothing tells when it is done.
            QThread::msleep(500);
        }
        const QJsonObject report = run.interruptAndReport();
        EXPECT_EQ(run.corvane.standardError().count("Engine started on"), 1);
        const int actual = applied ? 64 : 1024;
        EXPECT_EQ(report["bufferFrames"]["actual"].toInt(), actual);
        EXPECT_EQ(report["bufferFrames"]["requested"].toInt(), 64);
        EXPECT_EQ(report["error"], QJsonValue());
        EXPECT_NEAR(report["latency"]["roundTripMs"].toDouble(), 2.0 * actual / 48.0, 1e-3);
    }

    HeadlessRun run(withEngineLog(server.clientEnvironment()));
    ASSERT_TRUE(run.start(kStrip));
    ASSERT_TRUE(run.corvane.waitForStandardError("Memory ", 20s)) << run.corvane.standardError().toStdString();
    server.stop();
    ASSERT_TRUE(run.corvane.finish(10s)) << run.corvane.standardError().toStdString();
    EXPECT_EQ(run.corvane.exitCode(), 1);
    const QString message = "“system (JACK)” was disconnected - playback was stopped.";
    EXPECT_TRUE(run.corvane.standardError().contains(message)) << run.corvane.standardError().toStdString();
    EXPECT_EQ(readReport(run.reportPath)["error"].toString(), message);
}

} // namespace
} // namespace corvane::test
