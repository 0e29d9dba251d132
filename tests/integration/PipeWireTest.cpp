// The program on PipeWire, through PipeWire's libjack, as most desktop users run it.
#include "tests/integration/CorvaneProcess.h"
#include "tests/integration/HeadlessRig.h"
#include "tests/support/PipeWireServer.h"

#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

// Runs the program on `server` with `arguments`, a report and the engine's log.
struct ProgramRun {
    QTemporaryDir dir;
    QString report = dir.filePath(QStringLiteral("report.json"));
    CorvaneProcess corvane;
    ProgramRun(const PipeWireServer& server, QStringList arguments) : corvane(withEngineLog(server.clientEnvironment())) {
        arguments << QStringLiteral("--report") << report;
        EXPECT_TRUE(corvane.start(arguments));
    }
    static QProcessEnvironment withEngineLog(QProcessEnvironment environment) {
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("corvane.engine.info=true"));
        return environment;
    }
};

const QStringList kStrip{QStringLiteral("--headless"), QStringLiteral("--device"), QStringLiteral("jack:system"),
                         QStringLiteral("--strip"), QStringLiteral("1:in=1,out=1")};

TEST(PipeWire, RunsKeepGoingAtTheSizeTheServerReallyAppliesAndEndByNameWhenPipeWireGoes) {
    PipeWireServer server({.quantum = 1024});
    ASSERT_TRUE(server.start()) << server.logPath();
    // PipeWire applies a requested size later, when it sees fit: mostly within
    // a second, but after an earlier client left it sometimes keeps the old
    // one for the whole run. Neither our request nor its late arrival may stop
    // the run, and the report carries the size the server really ran at: the
    // new one exactly when the server said so (the log's line), and the round
    // trip of that size (PipeWire's ports hold one period each way). Each run
    // plays until it is interrupted: at once when no size was asked for (that
    // only a chosen size is written is the model's test), else once the new
    // size arrived, or four seconds without it.
    for (const QString& buffer : {QString(), QStringLiteral("64")}) {
        SCOPED_TRACE(buffer.isEmpty() ? "the server's own size" : "--buffer 64");
        QStringList arguments = kStrip;
        if (!buffer.isEmpty())
            arguments << QStringLiteral("--buffer") << buffer;
        ProgramRun run(server, arguments);
        // Locking memory (or saying why not) is the last thing a start does.
        ASSERT_TRUE(run.corvane.waitForStandardError(QStringLiteral("Memory "), 20s))
            << run.corvane.standardError().toStdString();
        if (!buffer.isEmpty() &&
            run.corvane.waitForStandardError(QStringLiteral("now runs periods of 64 frames"), 4s)) {
            // The latency estimate of the new size follows off the main
            // thread, and nothing tells when it is done.
            QThread::msleep(500);
        }
        run.corvane.interrupt();
        ASSERT_TRUE(run.corvane.finish(20s)) << run.corvane.standardError().toStdString();
        EXPECT_EQ(run.corvane.exitCode(), 130) << run.corvane.standardError().toStdString();
        EXPECT_EQ(run.corvane.standardError().count(QStringLiteral("Engine started on")), 1);
        const auto report = readReport(run.report);
        const bool applied = run.corvane.standardError().contains(QStringLiteral("now runs periods of 64 frames"));
        EXPECT_FALSE(applied && buffer.isEmpty()) << "a size nobody asked for";
        const int actual = applied ? 64 : 1024;
        EXPECT_EQ(report[QStringLiteral("bufferFrames")].toObject()[QStringLiteral("actual")].toInt(), actual);
        EXPECT_EQ(report[QStringLiteral("bufferFrames")].toObject()[QStringLiteral("requested")].toInt(),
                  buffer.isEmpty() ? 1024 : 64);
        EXPECT_EQ(report[QStringLiteral("error")], QJsonValue());
        EXPECT_NEAR(report[QStringLiteral("latency")].toObject()[QStringLiteral("roundTripMs")].toDouble(),
                    2.0 * actual / 48.0, 1e-3);
    }

    ProgramRun run(server, kStrip);
    ASSERT_TRUE(run.corvane.waitForStandardError(QStringLiteral("Memory "), 20s))
        << run.corvane.standardError().toStdString();
    server.stop();
    ASSERT_TRUE(run.corvane.finish(10s)) << run.corvane.standardError().toStdString();
    EXPECT_EQ(run.corvane.exitCode(), 1);
    const QString message = QStringLiteral("“system (JACK)” was disconnected - playback was stopped.");
    EXPECT_TRUE(run.corvane.standardError().contains(message)) << run.corvane.standardError().toStdString();
    EXPECT_EQ(readReport(run.report)[QStringLiteral("error")].toString(), message);
}

} // namespace
} // namespace corvane::test
