// The built program, run headless on the virtual device with real LV2 effects:
// what a script sees (exit code, standard error, the JSON report).
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>

namespace {

struct Outcome {
    int exitCode = -1;
    QString standardError;
    QString standardOutput;
    QJsonObject report;
};

Outcome runCorvane(const QStringList& arguments) {
    QTemporaryDir dir;
    const QString reportPath = dir.filePath("report.json");
    QProcess process;
    auto env = QProcessEnvironment::systemEnvironment();
    // A server name nobody uses: the run must not find a user's JACK server.
    env.insert("JACK_DEFAULT_SERVER", QString("corvane-absent-%1").arg(QCoreApplication::applicationPid()));
    env.insert("LV2_PATH", QString(CORVANE_LV2_FIXTURE_DIR) + ":/usr/lib/lv2");
    process.setProcessEnvironment(env);
    QStringList args = arguments;
    if (args.contains("--headless"))
        args << "--report" << reportPath;
    process.start(CORVANE_BINARY, args);
    Outcome run;
    // Generous: a sanitizer build on a busy machine scans every installed plug-in slowly.
    if (!process.waitForFinished(120000)) {
        process.kill();
        ADD_FAILURE() << "corvane did not finish";
        return run;
    }
    run.exitCode = process.exitCode();
    // lilv and the catalog may complain about broken bundles first; the
    // program's own word is its last line.
    const auto errorLines = QString::fromUtf8(process.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    run.standardError = errorLines.isEmpty() ? QString() : errorLines.last() + '\n';
    run.standardOutput = QString::fromUtf8(process.readAllStandardOutput());
    QFile file(reportPath);
    if (file.open(QIODevice::ReadOnly))
        run.report = QJsonDocument::fromJson(file.readAll()).object();
    return run;
}

QJsonObject strip(const Outcome& run, int number) {
    for (const auto& entry : run.report["strips"].toArray())
        if (entry.toObject()["strip"].toInt() == number)
            return entry.toObject();
    ADD_FAILURE() << "no strip " << number << " in the report";
    return {};
}

const QString ringMod = "http://drobilla.net/plugins/mda/RingMod";

} // namespace

TEST(HeadlessRun, ADebianRingModulatorModulatesAndItsBypassedTwinDoesNot) {
    // Input 1 is the virtual device's 200 Hz sine; the ring modulator multiplies
    // it by its 1 kHz carrier, which takes the rms down by the square root of 2.
    const Outcome run = runCorvane({"--headless", "--strip", "1:in=1,out=1,plugin=" + ringMod, "--strip",
                                "2:in=1,out=2,bypass,plugin=" + ringMod, "--seconds", "1"});
    ASSERT_EQ(run.exitCode, 0) << run.standardError.toStdString();
    EXPECT_EQ(run.report["device"].toString(), "virtual:default");
    EXPECT_EQ(run.report["error"], QJsonValue());
    EXPECT_EQ(run.report["strips"].toArray().size(), 2);
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
}

TEST(HeadlessRun, ALatentEffectShowsInTheReportsLatency) {
    const Outcome run = runCorvane({"--headless", "--rate", "48000", "--buffer", "128", "--strip",
                                "1:in=1-2,out=1-2,plugin=urn:corvane:test:latency", "--seconds", "0.5"});
    ASSERT_EQ(run.exitCode, 0) << run.standardError.toStdString();
    EXPECT_NEAR(strip(run, 1)["pluginLatencyMs"].toDouble(), 64.0 / 48.0, 1e-3);
    const auto latency = run.report["latency"].toObject();
    EXPECT_NEAR(latency["roundTripMs"].toDouble(), 2 * 128.0 / 48.0 + 64.0 / 48.0, 1e-3);
    EXPECT_TRUE(latency["summary"].toString().contains("Plugins up to 1.3 ms"));
    EXPECT_EQ(run.report["bufferFrames"].toObject()["actual"].toInt(), 128);

    // How long the render thread worked, against the period it had.
    EXPECT_NEAR(run.report["periodMicros"].toDouble(), 128.0 / 48000.0 * 1e6, 0.1);
    const double periodMax = run.report["periodMaxMicros"].toDouble();
    const double stripMax = strip(run, 1)["dspMaxMicros"].toDouble();
    EXPECT_GT(stripMax, 0.0);
    EXPECT_LE(stripMax, periodMax);
    EXPECT_EQ(strip(run, 1)["nonFinitePeriods"].toInt(), 0);
    // Locked, or the log says why not.
    ASSERT_TRUE(run.report["memoryLocked"].isBool());
    EXPECT_NE(run.report["memoryLocked"].toBool(), run.standardError.contains("Memory not locked against paging"));
}

TEST(HeadlessRun, AFailedLoadBesideALoadedFilterEndsWithItsMessage) {
    // Strip 1's filter was loaded when strip 2's failed: tearing it down unrun
    // once killed the program (it frees in cleanup() what activate() made).
    const Outcome run =
        runCorvane({"--headless", "--strip", "1:in=1,out=1,plugin=http://plugin.org.uk/swh-plugins/lowpass_iir",
                    "--strip", "2:in=2,out=2,plugin=urn:corvane:test:refuses", "--seconds", "1"});
    EXPECT_EQ(run.exitCode, 1);
    const QString start = "corvane: Couldn’t load “Fixture Refuses” on channel 2: ";
    EXPECT_TRUE(run.standardError.startsWith(start)) << run.standardError.toStdString();
    EXPECT_GT(run.standardError.trimmed().size(), start.size());
}

TEST(HeadlessRun, ListingsPrintOneLinePerEntry) {
    Outcome run = runCorvane({"--list-devices"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.standardOutput, "virtual:default\tVirtual Audio Device\t8 in\t8 out\n");

    run = runCorvane({"--list-plugins"});
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
}
