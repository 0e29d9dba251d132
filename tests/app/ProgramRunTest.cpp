// The built program as scripts see it: its exit status, what it writes to
// standard error and output, and the report it leaves; for runs with real LV2
// effects on the virtual device, and for each way a run can go wrong (or be
// cut short).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <functional>
#include <sys/stat.h>

namespace {

using Environment = QList<QPair<QString, QString>>;

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
    bool waitForMark() { return waitFor([&] { return QFile::exists(mark); }); }
    // Sends `signal` and waits until the process has taken it: two sent while
    // the first is still pending would be one.
    bool send(int signal) {
        ::kill(pid_t(process.processId()), signal);
        return waitFor([&] {
            QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
            if (!status.open(QIODevice::ReadOnly))
                return true;
            for (const QByteArray& line : status.readAll().split('\n'))
                if ((line.startsWith("SigPnd:") || line.startsWith("ShdPnd:")) &&
                    ((line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1))
                    return false;
            return true;
        });
    }
};

struct Outcome {
    int exitCode = -1;
    QStringList errorLines; // the program's own: lilv's complaints about the broken fixture bundles left out
    QString standardOutput;
    QByteArray reportText;
    QJsonObject report;
};

const QString kYesterday = R"({"error": null, "note": "yesterday's run"})";

// Runs the program; "{report}" in `arguments` stands for a report file that
// holds yesterday's report until the run replaces it. Fixture plug-ins only,
// unless the case's environment says otherwise.
Outcome runCorvane(QStringList arguments, const Environment& own = {},
                   const std::function<void(Running&)>& whileRunning = {}) {
    QTemporaryDir dir;
    const QString reportPath = dir.filePath("report.json");
    QFile stale(reportPath);
    EXPECT_TRUE(stale.open(QIODevice::WriteOnly) && stale.write(kYesterday.toUtf8()) > 0);
    stale.close();
    auto env = QProcessEnvironment::systemEnvironment();
    // A server name nobody uses: the run must not find a user's JACK server.
    env.insert("JACK_DEFAULT_SERVER", QString("corvane-absent-%1").arg(QCoreApplication::applicationPid()));
    env.insert("LV2_PATH", QString(CORVANE_LV2_FIXTURE_DIR));
    env.insert("CORVANE_TEST_STALL_MARK", dir.filePath("hanging"));
    env.remove("QT_LOGGING_RULES");
    for (const auto& [name, value] : own)
        env.insert(name, value);

    QProcess process;
    process.setProcessEnvironment(env);
    arguments.replaceInStrings("{report}", reportPath);
    process.start(CORVANE_BINARY, arguments);
    EXPECT_TRUE(process.waitForStarted());
    QString standardError;
    Running running{process, standardError, dir.filePath("hanging")};
    if (whileRunning)
        whileRunning(running);
    // It may have ended while the case waited on it: waitForFinished() would then say no.
    const bool finished = process.state() == QProcess::NotRunning || process.waitForFinished(15000);
    if (!finished)
        process.kill();
    process.waitForFinished();
    standardError += QString::fromUtf8(process.readAllStandardError());
    Outcome run;
    EXPECT_TRUE(finished) << "still running: " << standardError.toStdString();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << standardError.toStdString();
    run.exitCode = process.exitCode();
    run.standardOutput = QString::fromUtf8(process.readAllStandardOutput());
    run.errorLines = standardError.split('\n', Qt::SkipEmptyParts);
    // Every line is the program's own, and carries its name.
    for (const auto& line : run.errorLines)
        EXPECT_TRUE(line.startsWith("corvane: ")) << line.toStdString();
    run.errorLines.removeIf([](const QString& l) { return l.contains("Skipping LV2 bundle") || l.contains("Skipping plug-in"); });
    QFile file(reportPath);
    if (file.open(QIODevice::ReadOnly))
        run.reportText = file.readAll();
    run.report = QJsonDocument::fromJson(run.reportText).object();
    return run;
}

// A plug-in folder holding only the named bundles of Debian's, and LV2's own
// classes (an instrument is known by them): scanning all of them takes long on
// a busy machine.
QString debianBundles(const QTemporaryDir& dir, const QStringList& bundles) {
    const QString folder = dir.filePath("lv2");
    QDir().mkpath(folder);
    for (const QString& bundle : bundles + QStringList{"core.lv2"})
        QFile::link("/usr/lib/lv2/" + bundle, folder + "/" + bundle);
    return QString(CORVANE_LV2_FIXTURE_DIR) + ":" + folder;
}

struct Case {
    const char* what;
    QStringList arguments;
    int exitCode;
    // The first line on standard error, or how it starts ("" for none). Lines
    // of logging a case turns on, and memory not locked in a sanitizer build,
    // are not counted.
    QString firstError;
    Environment environment = {};
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
    ASSERT_TRUE(r.waitFor([&] { return r.standardError.contains("Engine started"); })) << r.standardError.toStdString();
    r.send(signal);
}

const Environment kEngineLog = {{"QT_LOGGING_RULES", "corvane.engine.info=true"}};

TEST(ExitStatus, EveryOutcomeHasItsStatusItsMessageAndAnHonestReport) {
    QTemporaryDir shared;
    const QString fifo = shared.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const std::vector<Case> cases = {
        // Arguments that do not parse (each mistake's message is the parser's test).
        {"tiny buffer", run({"--buffer", "3"}), 2,
         "corvane: --buffer 3: the buffer size must be a whole number of frames from 16 to 8192"},
        // Strips the device cannot serve.
        {"output beyond the device", run({"--strip", "2:in=1,out=9"}), 2,
         "corvane: --strip 2: output 9 is beyond “Virtual Audio Device” (8 outputs)"},
        {"pair beyond the device", run({"--strip", "2:in=8-9,out=1"}), 2,
         "corvane: --strip 2: input 9 is beyond “Virtual Audio Device” (8 inputs)"},
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
         {{"LV2_PATH", debianBundles(shared, {"lowpass_iir-swh.lv2"})}}, {},
         [](const QJsonObject& report) {
             EXPECT_TRUE(report["error"].toString().startsWith("Couldn’t load “Fixture Refuses”"));
             EXPECT_FALSE(report["interrupted"].toBool());
             EXPECT_EQ(report["strips"].toArray().size(), 2);
         }},
        {"a plug-in that hangs", run({"--strip", kStall}), 1,
         "corvane: warning: The render thread did not come out of the effect", {{"CORVANE_TEST_STALL_AFTER", "100"}},
         [](Running& r) { ASSERT_TRUE(r.waitForMark()); },
         [](const QJsonObject& report) {
             EXPECT_EQ(report["error"].toString(), "“Fixture Stall” on channel 2 stopped responding - playback was stopped.");
         }},
        // Files that are no setup: refused at once.
        {"a pipe as the setup", {"--headless", "--setup", fifo}, 2, "corvane: --setup " + fifo + " is a pipe, not a setup file"},
        {"a setup name with a line break", {"--headless", "--setup", shared.filePath("no\nsuch.json")}, 2,
         "corvane: --setup " + shared.filePath("no\\nsuch.json") + " cannot be opened"},
        {"device not there", run({"--device", "jack:system"}), 1,
         "corvane: “jack:system” is not available (see --list-devices)", {}, {},
         [](const QJsonObject& report) { EXPECT_EQ(report["device"].toString(), "jack:system"); }},
        {"buffer the device does not offer", run({"--buffer", "8192", "--seconds", "0.2"}), 0,
         "corvane: warning: “Virtual Audio Device” does not offer a buffer of 8192 frames - using 4096, the nearest it offers.",
         {}, {},
         [](const QJsonObject& report) {
             EXPECT_EQ(report["bufferFrames"].toObject()["actual"].toInt(), 4096);
             EXPECT_EQ(report["warnings"].toArray().size(), 1);
         }},
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
        {"a second Ctrl-C while the first waits for a hung plug-in", run({"--strip", kStall}), 130, "",
         {{"CORVANE_TEST_STALL_AFTER", "20"}},
         [](Running& r) {
             ASSERT_TRUE(r.waitForMark());
             ASSERT_TRUE(r.send(SIGINT));
             QElapsedTimer sinceFirst;
             sinceFirst.start();
             r.send(SIGINT);
             // The watchdog would end it as well, but 2.5 s after the first.
             ASSERT_TRUE(r.waitFor([&] { return r.process.state() == QProcess::NotRunning; }));
             EXPECT_LT(sinceFirst.elapsed(), 2000);
         },
         {}, true},
        {"a latency measurement without a cable",
         {"--measure-latency", "--device", "virtual:default", "--out", "1", "--in", "1"}, 1,
         "corvane: No signal came back on input 1 - connect output 1 to input 1"},
        // A window needs somewhere to open (empty counts as unset).
        {"window without a display", {}, 1, "corvane: no display to open the window on - set DISPLAY, or use --headless",
         {{"QT_QPA_PLATFORM", ""}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome run = runCorvane(c.arguments, c.environment, c.whileRunning);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.errorLines.join('\n').toStdString();
        QStringList lines = run.errorLines;
        lines.removeIf([](const QString& l) { return l.startsWith("corvane: corvane.") || l.contains("Memory not locked"); });
        const QString first = lines.value(0);
        if (c.firstError.isEmpty())
            EXPECT_TRUE(first.isEmpty()) << first.toStdString();
        else
            EXPECT_TRUE(first.startsWith(c.firstError)) << "first line: " << first.toStdString() << "\nall:\n"
                                                        << run.errorLines.join('\n').toStdString();
        if (c.noReport || c.exitCode == 2 || !c.arguments.contains("{report}")) {
            EXPECT_EQ(QString::fromUtf8(run.reportText), kYesterday) << "no report when no run began, or the run was cut off";
        } else {
            EXPECT_FALSE(run.report.contains("note")) << "yesterday's report is still there";
            if (c.report)
                c.report(run.report);
            else
                EXPECT_EQ(run.report["interrupted"].toBool(), false);
        }
    }
}

TEST(ExitStatus, ListingsPrintOneLinePerEntryAndOutputThatCannotBeWrittenIsAFailure) {
    QTemporaryDir dir;
    const QString ringMod = "http://drobilla.net/plugins/mda/RingMod";
    const Outcome run = runCorvane({"--list-plugins"}, {{"LV2_PATH", debianBundles(dir, {"mda.lv2"})}});
    EXPECT_EQ(run.exitCode, 0);
    const auto lines = run.standardOutput.split('\n', Qt::SkipEmptyParts);
    auto has = [&](const QString& prefix) {
        return std::any_of(lines.begin(), lines.end(), [&](const QString& l) { return l.startsWith(prefix); });
    };
    EXPECT_TRUE(has("urn:corvane:test:gain\tFixture Gain\t"));
    EXPECT_TRUE(has(ringMod + "\tMDA RingMod\tDavid Robillard"));
    EXPECT_FALSE(has("urn:corvane:test:instrument")) << "instruments are not effects";
    for (const auto& line : lines)
        EXPECT_EQ(line.count('\t'), 2) << line.toStdString();

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

QJsonObject strip(const Outcome& run, int number) {
    for (const auto& entry : run.report["strips"].toArray())
        if (entry.toObject()["strip"].toInt() == number)
            return entry.toObject();
    ADD_FAILURE() << "no strip " << number << " in the report";
    return {};
}

QStringList routing(const Outcome& run) {
    QStringList lines;
    for (const auto& entry : run.report["strips"].toArray()) {
        const auto s = entry.toObject();
        lines << QString("%1 %2>%3 %4 %5").arg(s["strip"].toInt()).arg(s["in"].toString(), s["out"].toString(),
                                                                    s["plugin"].toString(), s["bypass"].toBool() ? "bypass" : "");
    }
    return lines;
}

TEST(HeadlessRun, ARingModulatorModulatesItsBypassedTwinDoesNotAndALatentEffectShowsInTheLatency) {
    // Input 1 is the virtual device's 200 Hz sine; Debian's ring modulator
    // multiplies it by its 1 kHz carrier, which takes the rms down by the
    // square root of 2. Strip 3's fixture says it delays by 64 frames.
    QTemporaryDir dir;
    const QString ringMod = "http://drobilla.net/plugins/mda/RingMod";
    const Outcome run = runCorvane({"--headless", "--rate", "48000", "--buffer", "128", "--strip",
                                    "1:in=1,out=1,plugin=" + ringMod, "--strip", "2:in=1,out=2,bypass,plugin=" + ringMod,
                                    "--strip", "3:in=1-2,out=3-4,plugin=urn:corvane:test:latency", "--seconds", "0.5",
                                    "--report", "{report}"},
                                   {{"LV2_PATH", debianBundles(dir, {"mda.lv2"})}});
    ASSERT_EQ(run.exitCode, 0) << run.errorLines.join('\n').toStdString();
    EXPECT_EQ(run.report["device"].toString(), "virtual:default");
    EXPECT_EQ(run.report["error"], QJsonValue());
    const auto modulated = strip(run, 1);
    const auto bypassed = strip(run, 2);
    EXPECT_EQ(modulated["plugin"].toString(), ringMod);
    EXPECT_EQ(modulated["pluginLatencyMs"].toDouble(), 0.0);
    const double inRms = modulated["inputRms"].toDouble();
    EXPECT_NEAR(inRms, 0.05 / std::sqrt(2.0), 1e-3);
    EXPECT_NEAR(modulated["outputRms"].toDouble(), inRms / std::sqrt(2.0), 0.02 * inRms);
    EXPECT_LE(modulated["outputPeak"].toDouble(), modulated["inputPeak"].toDouble() + 1e-6);
    EXPECT_NEAR(bypassed["outputRms"].toDouble(), bypassed["inputRms"].toDouble(), 1e-6);
    EXPECT_NEAR(bypassed["outputPeak"].toDouble(), bypassed["inputPeak"].toDouble(), 1e-6);

    EXPECT_NEAR(strip(run, 3)["pluginLatencyMs"].toDouble(), 64.0 / 48.0, 1e-3);
    const auto latency = run.report["latency"].toObject();
    EXPECT_NEAR(latency["roundTripMs"].toDouble(), 2 * 128.0 / 48.0 + 64.0 / 48.0, 1e-3);
    EXPECT_TRUE(latency["summary"].toString().contains("Plugins up to 1.3 ms"));
    EXPECT_EQ(run.report["bufferFrames"].toObject()["actual"].toInt(), 128);
    // How long the render thread worked, against the period it had.
    EXPECT_NEAR(run.report["periodMicros"].toDouble(), 128.0 / 48000.0 * 1e6, 0.1);
    const double stripMax = modulated["dspMaxMicros"].toDouble();
    EXPECT_GT(stripMax, 0.0);
    EXPECT_LE(stripMax, run.report["periodMaxMicros"].toDouble());
    EXPECT_EQ(modulated["nonFinitePeriods"].toInt(), 0);
    // The virtual device has no control input: nothing came, and the report says 0.
    EXPECT_EQ(run.report["midiEventsReceived"].toInt(-1), 0);
    EXPECT_EQ(run.report["midiEventsApplied"].toInt(-1), 0);
    // Locked, or the log says why not.
    ASSERT_TRUE(run.report["memoryLocked"].isBool());
    EXPECT_NE(run.report["memoryLocked"].toBool(),
              run.errorLines.join('\n').contains("Memory not locked against paging"));
}

TEST(HeadlessRun, ASavedSetupRunsAgainWithItsPluginSettings) {
    QTemporaryDir dir;
    // The gain fixture at half gain on strip 1, straight through on strip 2.
    QFile setup(dir.filePath("first.json"));
    ASSERT_TRUE(setup.open(QIODevice::WriteOnly));
    setup.write(R"({"format": "1.0", "strips": [{"strip": 1, "input": 1, "output": 1, "plugin": {"uri": "urn:corvane:test:gain", )"
                R"("name": "Fixture Gain", "state": "<urn:corvane:effect-state> a pset:Preset ; lv2:appliesTo )"
                R"(<urn:corvane:test:gain> ; lv2:port [ lv2:symbol \"gain\" ; pset:value 0.5 ] ."}}, )"
                R"({"strip": 2, "input": 1, "output": 2}]})");
    setup.close();
    auto halved = [](const Outcome& run) {
        const auto s = strip(run, 1);
        EXPECT_GT(s["inputRms"].toDouble(), 0.03);
        EXPECT_NEAR(s["outputRms"].toDouble(), 0.5 * s["inputRms"].toDouble(), 1e-4);
        EXPECT_NEAR(strip(run, 2)["outputRms"].toDouble(), strip(run, 2)["inputRms"].toDouble(), 1e-6);
    };

    const QString saved = dir.filePath("saved.json");
    const Outcome run = runCorvane({"--headless", "--setup", dir.filePath("first.json"), "--buffer", "128",
                                    "--save-setup", saved, "--seconds", "0.3", "--report", "{report}"});
    ASSERT_EQ(run.exitCode, 0) << run.errorLines.join('\n').toStdString();
    halved(run);
    EXPECT_EQ(routing(run), (QStringList{"1 1>1 urn:corvane:test:gain ", "2 1>2  "}));
    // What the plug-in itself saved at the end, not the text it was given.
    QFile file(saved);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto document = QJsonDocument::fromJson(file.readAll()).object();
    const auto plugin = document["strips"].toArray()[0].toObject()["plugin"].toObject();
    EXPECT_TRUE(plugin["state"].toString().contains("urn:corvane:test:gain#processed")) << plugin["state"].toString().toStdString();
    EXPECT_EQ(document["bufferFrames"].toInt(), 128);

    // Run again from what was saved, with the command line overriding it strip by strip.
    const Outcome again = runCorvane({"--headless", "--setup", saved, "--strip", "2:in=2,out=3,bypass", "--rate", "44100",
                                      "--seconds", "0.3", "--report", "{report}"});
    ASSERT_EQ(again.exitCode, 0) << again.errorLines.join('\n').toStdString();
    EXPECT_EQ(routing(again), (QStringList{"1 1>1 urn:corvane:test:gain ", "2 2>3  bypass"}));
    EXPECT_EQ(again.report["bufferFrames"].toObject()["actual"].toInt(), 128);
    EXPECT_EQ(again.report["sampleRate"].toObject()["requested"].toDouble(), 44100.0);
    halved(again);
}

// The processes whose environment holds `mark`.
QStringList processesMarked(const QByteArray& mark) {
    QStringList found;
    for (const QString& pid : QDir("/proc").entryList(QDir::Dirs))
        if (QFile environ("/proc/" + pid + "/environ"); environ.open(QIODevice::ReadOnly) && environ.readAll().contains(mark))
            found << pid;
    return found;
}

TEST(HeadlessRun, AnIsolatedPlugInThatCrashesSilencesNothingButItsOwnEffectAndTheRunEndsAsItWould) {
    const QByteArray mark = "CORVANE_TEST_RUN=isolated-crash-" + QByteArray::number(QCoreApplication::applicationPid());
    // Strip 2 takes input 1 as well: its output matches strip 1's only if strip 1 plays its input on.
    const Outcome run = runCorvane({"--headless", "--isolated", "--strip", "1:in=1,out=1,plugin=urn:corvane:test:segfault",
                                    "--strip", "2:in=1,out=2,plugin=urn:corvane:test:gain", "--seconds", "1",
                                    "--report", "{report}"},
                                   {{"CORVANE_TEST_RUN", QString::fromLatin1(mark.mid(mark.indexOf('=') + 1))}});
    ASSERT_EQ(run.exitCode, 0) << run.errorLines.join('\n').toStdString();
    EXPECT_EQ(run.report["error"], QJsonValue());
    const QString warning = "“Fixture Segfault” on channel 1 crashed - the strip plays its input unprocessed.";
    EXPECT_TRUE(run.report["warnings"].toArray().contains(warning)) << run.reportText.toStdString();
    EXPECT_TRUE(run.errorLines.contains("corvane: warning: " + warning)) << run.errorLines.join('\n').toStdString();
    const auto crashed = strip(run, 1);
    const auto healthy = strip(run, 2);
    EXPECT_EQ(crashed["pluginFault"].toString(), "crashed");
    // 20 periods of 256 frames pass before the fixture's fault.
    EXPECT_GT(crashed["faultAtSeconds"].toDouble(), 0.0);
    EXPECT_LT(crashed["faultAtSeconds"].toDouble(), 1.0);
    EXPECT_EQ(healthy["pluginFault"], QJsonValue());
    EXPECT_EQ(healthy["faultAtSeconds"], QJsonValue());
    // The period the host died in went unanswered.
    EXPECT_GE(crashed["latePeriods"].toInt(), 1);
    EXPECT_GT(crashed["outputRms"].toDouble(), 0.03);
    EXPECT_NEAR(crashed["outputRms"].toDouble(), healthy["outputRms"].toDouble(), 1e-6);
    EXPECT_EQ(processesMarked(mark), QStringList()) << "a plug-in host outlived the run";
}

} // namespace
