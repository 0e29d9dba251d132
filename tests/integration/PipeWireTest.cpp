// The program on PipeWire, through PipeWire's libjack, as most desktop users run it.
#include "tests/integration/HeadlessRig.h"
#include "tests/support/EventLoop.h"
#include "tests/support/PipeWireServer.h"

#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

#include <thread>

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

QProcessEnvironment withEngineLog(QProcessEnvironment environment) {
    environment.insert("QT_LOGGING_RULES", "corvane.engine.info=true");
    return environment;
}

const QStringList kStrip{"--device", "jack:system", "--strip", "1:in=1,out=1"};

// One of JACK's example clients, on `server`: `arguments`, then nothing until it is killed.
struct JackTool {
    JackTool(const PipeWireServer& server, const QString& program, const QStringList& arguments) {
        process.setProcessEnvironment(server.clientEnvironment());
        process.start(program, arguments);
    }
    ~JackTool() {
        process.kill();
        process.waitForFinished();
    }
    QProcess process;
};

TEST(PipeWire, ARunTakesTheServersSizeLatencyAndMidiAndEndsByNameWhenPipeWireGoes) {
    PipeWireServer server;
    ASSERT_TRUE(server.start()) << server.logPath();
    {
        // PipeWire's ports hold one period each way. A size the program asks
        // for, PipeWire applies when it sees fit; the run then follows it as it
        // follows any change of the server's, which the runs on jackd show.
        // Its control port takes PipeWire's MIDI: a sequencer's note 60, on
        // and off four times a second, flips the strip at each press.
        QProcessEnvironment environment = withEngineLog(server.clientEnvironment());
        environment.insert("LV2_PATH", CORVANE_LV2_FIXTURE_DIR);
        HeadlessRun run(environment);
        QFile setup(run.dir.filePath("midi.json"));
        ASSERT_TRUE(setup.open(QIODevice::WriteOnly));
        setup.write(R"({"format": "1.1", "strips": [{"strip": 1, "input": 1, "output": 1,
                        "plugin": {"uri": "urn:corvane:test:gain"}}],
                        "midi": [{"strip": 1, "source": "note", "number": 60, "mode": "momentary"}]})");
        setup.close();
        ASSERT_TRUE(run.start({"--device", "jack:system", "--setup", setup.fileName()}));
        // Locking memory (or saying why not) is the last thing a start does.
        ASSERT_TRUE(run.corvane.waitForStandardError("Memory ", 20s)) << run.corvane.standardError().toStdString();
        JackTool sequencer(server, "jack_midiseq", {"pedal", "12000", "0", "60", "6000"});
        ASSERT_TRUE(waitFor([&] {
            JackTool connect(server, "jack_connect", {"pedal:out", "corvane:control"});
            return connect.process.waitForFinished() && connect.process.exitCode() == 0;
        }, 10s));
        // Nothing outside the run shows a press: give it about six.
        std::this_thread::sleep_for(1500ms);
        const QJsonObject report = run.interruptAndReport();
        EXPECT_EQ(report["bufferFrames"]["actual"].toInt(), 1024);
        EXPECT_EQ(report["error"], QJsonValue());
        EXPECT_NEAR(report["latency"]["roundTripMs"].toDouble(), 2.0 * 1024 / 48.0, 1e-3);
        EXPECT_GE(report["midiEventsApplied"].toInt(), 2);
        EXPECT_GE(report["midiEventsReceived"].toInt(), 2 * report["midiEventsApplied"].toInt() - 1);
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
