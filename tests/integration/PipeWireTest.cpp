// The program on PipeWire, through PipeWire's libjack, as most desktop users run it.
#include "tests/integration/HeadlessRig.h"
#include "tests/support/PipeWireServer.h"

#include <gtest/gtest.h>

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

QProcessEnvironment withEngineLog(QProcessEnvironment environment) {
    environment.insert("QT_LOGGING_RULES", "corvane.engine.info=true");
    return environment;
}

const QStringList kStrip{"--device", "jack:system", "--strip", "1:in=1,out=1"};

TEST(PipeWire, ARunTakesTheServersSizeAndLatencyAndEndsByNameWhenPipeWireGoes) {
    PipeWireServer server;
    ASSERT_TRUE(server.start()) << server.logPath();
    {
        // PipeWire's ports hold one period each way. A size the program asks
        // for, PipeWire applies when it sees fit; the run then follows it as it
        // follows any change of the server's, which the runs on jackd show.
        HeadlessRun run(withEngineLog(server.clientEnvironment()));
        ASSERT_TRUE(run.start(kStrip));
        // Locking memory (or saying why not) is the last thing a start does.
        ASSERT_TRUE(run.corvane.waitForStandardError("Memory ", 20s)) << run.corvane.standardError().toStdString();
        const QJsonObject report = run.interruptAndReport();
        EXPECT_EQ(report["bufferFrames"]["actual"].toInt(), 1024);
        EXPECT_EQ(report["error"], QJsonValue());
        EXPECT_NEAR(report["latency"]["roundTripMs"].toDouble(), 2.0 * 1024 / 48.0, 1e-3);
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
