// The built program, run headless on the virtual device with real LV2 effects:
// what a script sees (exit code, standard error, the JSON report).
#include "setup/SetupFile.h"

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

QStringList routing(const Outcome& run) {
    QStringList lines;
    for (const auto& entry : run.report["strips"].toArray()) {
        const auto s = entry.toObject();
        lines << QString("%1 %2>%3 %4 %5").arg(s["strip"].toInt()).arg(s["in"].toString(), s["out"].toString(),
                                                                    s["plugin"].toString(), s["bypass"].toBool() ? "bypass" : "");
    }
    return lines;
}

} // namespace

TEST(HeadlessRun, ARingModulatorModulatesItsBypassedTwinDoesNotAndALatentEffectShowsInTheLatency) {
    // Input 1 is the virtual device's 200 Hz sine; Debian's ring modulator
    // multiplies it by its 1 kHz carrier, which takes the rms down by the
    // square root of 2. Strip 3's fixture says it delays by 64 frames.
    const Outcome run = runCorvane({"--headless", "--rate", "48000", "--buffer", "128", "--strip",
                                    "1:in=1,out=1,plugin=" + ringMod, "--strip", "2:in=1,out=2,bypass,plugin=" + ringMod,
                                    "--strip", "3:in=1-2,out=3-4,plugin=urn:corvane:test:latency", "--seconds", "1"});
    ASSERT_EQ(run.exitCode, 0) << run.standardError.toStdString();
    EXPECT_EQ(run.report["device"].toString(), "virtual:default");
    EXPECT_EQ(run.report["error"], QJsonValue());
    EXPECT_EQ(run.report["strips"].toArray().size(), 3);
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
    // Locked, or the log says why not.
    ASSERT_TRUE(run.report["memoryLocked"].isBool());
    EXPECT_NE(run.report["memoryLocked"].toBool(), run.standardError.contains("Memory not locked against paging"));
}

TEST(HeadlessRun, ThePluginListingPrintsOneLinePerEffect) {
    const Outcome run = runCorvane({"--list-plugins"});
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

TEST(HeadlessRun, ASavedSetupRunsAgainWithItsPluginSettings) {
    QTemporaryDir dir;
    // The gain fixture at half gain on strip 1, straight through on strip 2.
    corvane::Setup first;
    first.strips[0] = {0, false, 0, false,
                       corvane::Setup::Plugin{"urn:corvane:test:gain", "Fixture Gain",
                                              "<urn:corvane:effect-state> a pset:Preset ; lv2:appliesTo "
                                              "<urn:corvane:test:gain> ; lv2:port [ lv2:symbol \"gain\" ; "
                                              "pset:value 0.5 ] ."},
                       false};
    first.strips[1] = {0, false, 1, false, std::nullopt, false};
    ASSERT_EQ(corvane::writeSetupFile(dir.filePath("first.json"), first), std::nullopt);
    auto halved = [](const Outcome& run) {
        const auto s = strip(run, 1);
        EXPECT_GT(s["inputRms"].toDouble(), 0.03);
        EXPECT_NEAR(s["outputRms"].toDouble(), 0.5 * s["inputRms"].toDouble(), 1e-4);
        EXPECT_NEAR(strip(run, 2)["outputRms"].toDouble(), strip(run, 2)["inputRms"].toDouble(), 1e-6);
    };

    const QString saved = dir.filePath("saved.json");
    const Outcome run = runCorvane({"--headless", "--setup", dir.filePath("first.json"), "--buffer", "128",
                                    "--save-setup", saved, "--seconds", "0.5"});
    ASSERT_EQ(run.exitCode, 0) << run.standardError.toStdString();
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
    const Outcome again =
        runCorvane({"--headless", "--setup", saved, "--strip", "2:in=2,out=3,bypass", "--rate", "44100", "--seconds", "0.5"});
    ASSERT_EQ(again.exitCode, 0) << again.standardError.toStdString();
    EXPECT_EQ(routing(again), (QStringList{"1 1>1 urn:corvane:test:gain ", "2 2>3  bypass"}));
    EXPECT_EQ(again.report["bufferFrames"].toObject()["actual"].toInt(), 128);
    EXPECT_EQ(again.report["sampleRate"].toObject()["requested"].toDouble(), 44100.0);
    halved(again);
}
