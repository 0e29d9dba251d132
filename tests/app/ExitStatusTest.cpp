// The built program as scripts see it: for each way a run can go wrong (or be
// cut short), its exit status, the first line it writes to standard error, and
// the report it leaves.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;

// A running program, for the steps a case takes while it runs.
struct Running {
    QProcess& process;
    QString& standardError;
    QString mark; // the stall fixture's "now hanging" file

    bool waitFor(const std::function<bool()>& condition) {
        for (int i = 0; i < 400 && !condition(); ++i) {
            process.waitForReadyRead(25);
            standardError += QString::fromUtf8(process.readAllStandardError());
        }
        return condition();
    }
    bool waitForError(const QString& text) { return waitFor([&] { return standardError.contains(text); }); }
    bool waitForMark() { return waitFor([&] { return QFile::exists(mark); }); }
    void send(int signal) { ::kill(pid_t(process.processId()), signal); }
};

struct Case {
    const char* what;
    QStringList arguments; // "{report}" stands for the report's path
    int exitCode;
    // The first line on standard error, or how it starts ("" for none). Lines
    // of logging a case turns on are not counted.
    QString firstError;
    QList<QPair<QString, QString>> environment = {};
    std::function<void(Running&)> whileRunning = {};
    // What the report must hold afterwards. With exit status 2 (nothing began),
    // or when `noReport` says the run was cut off, the old report stays as it was.
    std::function<void(const QJsonObject&)> report = {};
    bool noReport = false;
};

const QString kStall = QStringLiteral("2:in=2,out=2,plugin=urn:corvane:test:stall");
const QStringList kRun = {"--headless", "--strip", "1:in=1,out=1", "--report", "{report}"};

QStringList run(QStringList more) { return kRun + more; }

std::function<void(const QJsonObject&)> interrupted(QJsonValue error) {
    return [error](const QJsonObject& report) {
        EXPECT_TRUE(report["interrupted"].toBool());
        EXPECT_EQ(report["error"], error);
    };
}

void interruptOnceStarted(Running& r, int signal) {
    ASSERT_TRUE(r.waitForError("Engine started")) << r.standardError.toStdString();
    r.send(signal);
}

const QList<QPair<QString, QString>> kEngineLog = {{"QT_LOGGING_RULES", "corvane.engine.info=true"}};

// The environment every run gets, and the case's own on top.
QProcessEnvironment environment(const QTemporaryDir& dir, const QList<QPair<QString, QString>>& own) {
    auto env = QProcessEnvironment::systemEnvironment();
    // A server name nobody uses: the run must not find a user's JACK server.
    env.insert("JACK_DEFAULT_SERVER", QString("corvane-absent-%1").arg(QCoreApplication::applicationPid()));
    env.insert("LV2_PATH", QString(CORVANE_LV2_FIXTURE_DIR));
    env.insert("CORVANE_TEST_STALL_MARK", dir.filePath("hanging"));
    env.remove("QT_LOGGING_RULES");
    for (const auto& [name, value] : own)
        env.insert(name, value);
    return env;
}

TEST(ExitStatus, EveryOutcomeHasItsStatusItsMessageAndAnHonestReport) {
    QTemporaryDir shared;
    const QString fifo = shared.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const std::vector<Case> cases = {
        // Strips the device cannot serve.
        {"output beyond the device", run({"--strip", "2:in=1,out=9"}), 2,
         "corvane: --strip 2: output 9 is beyond “Virtual Audio Device” (8 outputs)"},
        {"pair beyond the device", run({"--strip", "2:in=8-9,out=1"}), 2,
         "corvane: --strip 2: input 9 is beyond “Virtual Audio Device” (8 inputs)"},
        // Run times.
        {"endless seconds", run({"--seconds", "inf"}), 2, "corvane: --seconds inf: the run time must be more than 0"},
        {"seconds past counting", run({"--seconds", "1e10"}), 2, "corvane: --seconds 1e10: "},
        {"no seconds", run({"--seconds", "-1"}), 2, "corvane: --seconds -1: "},
        // Reports that cannot be written, and runs that fail, found out before and after.
        {"report is a folder", {"--headless", "--strip", "1:in=1,out=1", "--report", "/tmp"}, 2,
         "corvane: --report /tmp: it is a folder"},
        {"report in a missing folder", {"--headless", "--strip", "1:in=1,out=1", "--report", "/nowhere/r.json"}, 2,
         "corvane: --report /nowhere/r.json: the folder /nowhere does not exist"},
        {"report on a full device", {"--headless", "--strip", "1:in=1,out=1", "--seconds", "0.2", "--report", "/dev/full"},
         1, "corvane: --report /dev/full: the report could not be written: No space left on device"},
        // Strip 1's filter was loaded when strip 2's failed: tearing it down
        // unrun once killed the program (it frees in cleanup() what activate() made).
        {"failed start replaces the old report",
         {"--headless", "--strip", "1:in=1,out=1,plugin=http://plugin.org.uk/swh-plugins/lowpass_iir", "--strip",
          "2:in=2,out=2,plugin=urn:corvane:test:refuses", "--seconds", "5", "--report", "{report}"},
         1, "corvane: Couldn’t load “Fixture Refuses” on channel 2: The plug-in",
         {{"LV2_PATH", CORVANE_LV2_FIXTURE_DIR ":/usr/lib/lv2"}}, {},
         [](const QJsonObject& report) {
             EXPECT_TRUE(report["error"].toString().startsWith("Couldn’t load “Fixture Refuses”"));
             EXPECT_FALSE(report["interrupted"].toBool());
             EXPECT_EQ(report["strips"].toArray().size(), 2);
         }},
        {"a plug-in that hangs", run({"--strip", kStall}), 1,
         "corvane: warning: The render thread did not come out of the effect", {{"CORVANE_TEST_STALL_AFTER", "100"}}, {},
         [](const QJsonObject& report) {
             EXPECT_EQ(report["error"].toString(), "“Fixture Stall” on channel 2 stopped responding - playback was stopped.");
         }},
        // Files that are no setup, or none to write one to: refused at once.
        {"a pipe as the setup", {"--headless", "--setup", fifo}, 2, "corvane: --setup " + fifo + " is a pipe, not a setup file"},
        {"a pipe to save to", run({"--save-setup", fifo}), 2, "corvane: --save-setup " + fifo + ": it is a pipe, not a file"},
        {"a setup name with a line break", {"--headless", "--setup", shared.filePath("no\nsuch.json")}, 2,
         "corvane: --setup " + shared.filePath("no\\nsuch.json") + " cannot be opened"},
        {"device not there", run({"--device", "jack:system"}), 1,
         "corvane: “jack:system” is not available (see --list-devices)", {}, {},
         [](const QJsonObject& report) { EXPECT_EQ(report["device"].toString(), "jack:system"); }},
        // Signals: each one ends the run with a report that says so.
        {"hangup", run({}), 128 + SIGHUP, "", kEngineLog, [](Running& r) { interruptOnceStarted(r, SIGHUP); },
         interrupted(QJsonValue())},
        {"terminate", run({}), 128 + SIGTERM, "", kEngineLog, [](Running& r) { interruptOnceStarted(r, SIGTERM); },
         interrupted(QJsonValue())},
        // A report on a pipe nobody reads: the run's end waits in open() for good.
        {"the first signal while the main thread is stuck", {"--headless", "--strip", "1:in=1,out=1", "--report", fifo},
         128 + SIGTERM, "", kEngineLog, [](Running& r) { interruptOnceStarted(r, SIGTERM); }, {}, true},
        {"Ctrl-C while a plug-in loads", run({"--strip", kStall}), 130,
         "corvane: The run was interrupted before playback started.", {{"CORVANE_TEST_STALL_LOADING", "1"}},
         [](Running& r) {
             ASSERT_TRUE(r.waitForMark());
             r.send(SIGINT);
         },
         interrupted("The run was interrupted before playback started.")},
        {"a second Ctrl-C while the first waits for a hung plug-in", run({"--strip", kStall}),
         130, "", {{"CORVANE_TEST_STALL_AFTER", "20"}},
         [](Running& r) {
             ASSERT_TRUE(r.waitForMark());
             r.send(SIGINT);
             QThread::msleep(100);
             r.send(SIGINT);
         },
         {}, true},
        // A window needs somewhere to open (empty counts as unset).
        {"window without a display", {}, 1, "corvane: no display to open the window on - set DISPLAY, or use --headless",
         {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}},
        // Numbers outside what makes sense.
        {"endless rate", run({"--rate", "inf"}), 2,
         "corvane: --rate inf: the sample rate must be a whole number of Hz from 8000 to 768000"},
        {"rate of 1 Hz", run({"--rate", "1"}), 2, "corvane: --rate 1: "},
        {"rate of 1 GHz", run({"--rate", "1e9"}), 2, "corvane: --rate 1e9: "},
        {"fractional rate", run({"--rate", "44100.5"}), 2, "corvane: --rate 44100.5: "},
        {"tiny buffer", run({"--buffer", "3"}), 2,
         "corvane: --buffer 3: the buffer size must be a whole number of frames from 16 to 8192"},
        {"huge buffer", run({"--buffer", "4294967295"}), 2, "corvane: --buffer 4294967295: "},
        {"buffer the device does not offer", run({"--buffer", "8192", "--seconds", "0.2"}), 0,
         "corvane: warning: “Virtual Audio Device” does not offer a buffer of 8192 frames - using 4096, the nearest it offers.",
         {}, {},
         [](const QJsonObject& report) {
             EXPECT_EQ(report["bufferFrames"].toObject()["actual"].toInt(), 4096);
             EXPECT_EQ(report["warnings"].toArray().size(), 1);
         }},
        // One mode per run, each option once.
        {"two listings", {"--list-devices", "--list-plugins"}, 2,
         "corvane: --list-devices and --list-plugins cannot be combined: one mode per run (see --help)"},
        {"help after a run", run({"--help"}), 2, "corvane: --headless and --help cannot be combined"},
        {"option without its mode", {"--seconds", "1"}, 2, "corvane: --seconds goes with --headless (see --help)"},
        {"seconds twice", run({"--seconds", "1", "--seconds", "2"}), 2, "corvane: --seconds is given twice"},
        {"in= twice", run({"--strip", "2:in=1,in=2,out=1"}), 2, "corvane: --strip 2:in=1,in=2,out=1: in= is given twice"},
        {"bypass twice", run({"--strip", "2:in=1,out=1,bypass,bypass"}), 2, "corvane: --strip 2:in=1,out=1,bypass,bypass: bypass is given twice"},
        // Strip texts.
        {"a URI with a comma stays whole", run({"--strip", "2:in=1,out=2,bypass,plugin=urn:x:a,b"}), 1,
         "corvane: Couldn’t load “urn:x:a,b” on channel 2: "},
        {"nothing after the colon", run({"--strip", "2:"}), 2, "corvane: --strip 2:: both in= and out= are needed"},
        {"an empty field", run({"--strip", "2:in=1,,out=1"}), 2, "corvane: --strip 2:in=1,,out=1: a field between commas is empty"},
        {"a space before the number", run({"--strip", " 2:in=1,out=1"}), 2, "corvane: --strip  2:in=1,out=1: the strip number must be 1 to 8"},
        {"a signed number", run({"--strip", "+2:in=1,out=1"}), 2, "corvane: --strip +2:in=1,out=1: the strip number must be 1 to 8"},
    };

    const QString previous = R"({"error": null, "note": "yesterday's run"})";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const QString reportPath = dir.filePath("report.json");
        QFile stale(reportPath);
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly) && stale.write(previous.toUtf8()) > 0);
        stale.close();

        QProcess process;
        process.setProcessEnvironment(environment(dir, c.environment));
        QStringList arguments = c.arguments;
        arguments.replaceInStrings("{report}", reportPath);
        process.start(CORVANE_BINARY, arguments);
        ASSERT_TRUE(process.waitForStarted());
        QString standardError;
        Running running{process, standardError, dir.filePath("hanging")};
        if (c.whileRunning)
            c.whileRunning(running);
        const bool finished = process.waitForFinished(15000);
        if (!finished)
            process.kill();
        process.waitForFinished();
        standardError += QString::fromUtf8(process.readAllStandardError());
        ASSERT_TRUE(finished) << "still running: " << standardError.toStdString();
        ASSERT_EQ(process.exitStatus(), QProcess::NormalExit) << standardError.toStdString();

        EXPECT_EQ(process.exitCode(), c.exitCode) << standardError.toStdString();
        QStringList lines = standardError.split('\n', Qt::SkipEmptyParts);
        // Every line is the program's own, and carries its name. Not counted:
        // the deliberately broken fixture bundles, named once each, and memory
        // that is not locked in a sanitizer build.
        for (const auto& line : lines)
            EXPECT_TRUE(line.startsWith("corvane: ")) << line.toStdString();
        lines.removeIf([](const QString& l) {
            return l.startsWith("corvane: corvane.") || l.contains("Skipping LV2 bundle") ||
                   l.contains("Skipping plug-in") || l.contains("Memory not locked");
        });
        const QString first = lines.isEmpty() ? QString() : lines.first();
        if (c.firstError.isEmpty())
            EXPECT_TRUE(first.isEmpty()) << first.toStdString();
        else
            EXPECT_TRUE(first.startsWith(c.firstError)) << "first line: " << first.toStdString() << "\nall:\n"
                                                        << standardError.toStdString();

        QFile file(reportPath);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        if (c.noReport || c.exitCode == 2 || !arguments.contains(reportPath)) {
            EXPECT_EQ(QString::fromUtf8(text), previous) << "no report when no run began, or the run was cut off";
        } else {
            const QJsonObject report = QJsonDocument::fromJson(text).object();
            EXPECT_FALSE(report.contains("note")) << "yesterday's report is still there";
            if (c.report)
                c.report(report);
            else
                EXPECT_EQ(report["interrupted"].toBool(), false);
        }
    }
}

TEST(ExitStatus, OutputThatCannotBeWrittenIsAFailure) {
    for (const QString& mode : {QStringLiteral("--list-devices"), QStringLiteral("--help")}) {
        QProcess process;
        process.setStandardOutputFile("/dev/full");
        process.start(CORVANE_BINARY, {mode});
        ASSERT_TRUE(process.waitForFinished(15000));
        EXPECT_EQ(process.exitCode(), 1) << mode.toStdString();
        EXPECT_TRUE(QString::fromUtf8(process.readAllStandardError())
                        .startsWith("corvane: cannot write to standard output: No space left on device"));
    }
}

} // namespace
