// Setups read, written and given to a manager on the virtual device: every
// kind of bad input, and writes that fail or die halfway.
#include "engine/SetupExchange.h"
#include "setup/SetupFile.h"
#include "tests/engine/VirtualRig.h"
#include "tests/support/EventLoop.h"
#include "tests/support/FakeBackend.h"
#include "tests/support/LogCapture.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace corvane;

namespace {

// The fixtures are all a setup names: the catalog need not scan Debian's plug-ins.
const bool pathSet = [] { return setenv("LV2_PATH", CORVANE_LV2_FIXTURE_DIR, 1) == 0; }();

const QString kGainUri = QStringLiteral("urn:corvane:test:gain");
// The gain fixture at half gain, in LV2's textual state form.
const QByteArray kHalfGain = "<urn:corvane:effect-state> a pset:Preset ; lv2:appliesTo <urn:corvane:test:gain> ; "
                             "lv2:port [ lv2:symbol \"gain\" ; pset:value 0.5 ] .";

QStringList give(AudioEngineManager& manager, const ReadSetup& read) {
    return manager.setups().give(read.setup, readingNotes(read));
}

Setup sampleSetup() {
    Setup setup;
    setup.deviceUid = QStringLiteral("virtual:default");
    setup.deviceName = QStringLiteral("Virtual Audio Device");
    setup.sampleRate = 44100;
    setup.bufferFrames = 128;
    setup.strips[0] = {0, false, 1, true, Setup::Plugin{kGainUri, QStringLiteral("Fixture Gain"), kHalfGain}, true};
    setup.strips[5] = {6, true, 7, false, std::nullopt, false};
    setup.midiMappings = {{{MidiKind::ControlChange, 64, 0}, {0, {}}, SwitchMode::Momentary, true},
                          {{MidiKind::Note, 60, 16}, {0, "gain"}, SwitchMode::Latching, false},
                          {{MidiKind::ControlChange, 7, 1}, {0, "volume"}, SwitchMode::Latching, false}};
    return setup;
}

QString errorOf(const std::variant<ReadSetup, SetupReadError>& read) {
    const auto* error = std::get_if<SetupReadError>(&read);
    return error ? error->message : QString();
}

QByteArray withStrip(const QByteArray& strip) {
    return R"({"format": "1.0", "strips": [)" + strip + "]}";
}

} // namespace

TEST(Setup, BadDocumentsAreRefusedWholeWithAReason) {
    const QByteArray good = serializeSetup(sampleSetup());
    const struct {
        QByteArray json;
        const char* reason;
    } cases[] = {
        {"setup: yes", "JSON is broken"},
        {good.left(good.size() / 2), "JSON is broken"},
        {"[1, 2]", "not a JSON object"},
        {R"({"strips": []})", "no “format”"},
        {R"({"format": "2.0", "strips": []})", "newer Corvane (setup format 2.0)"},
        {R"({"format": 1})", "no “format”"},
        {R"({"format": "1.0\n"})", "“format” must be a version like “1.1”"},
        {withStrip(R"({"strip": 0})"), "1 to 8"},
        {withStrip(R"({"strip": 9})"), "1 to 8"},
        {withStrip(R"({"strip": 2}, {"strip": 2})"), "strip 2 is given twice"},
        {withStrip(R"({"strip": 1, "input": 0})"), "“input” must be a whole number from 1"},
        {withStrip(R"({"strip": 1, "output": 2.5})"), "“output” must be a whole number"},
        {withStrip(R"({"strip": 1, "bypass": "yes"})"), "“bypass” must be true or false"},
        {withStrip(R"({"strip": 1, "plugin": {"name": "x"}})"), "“uri” must be text"},
        {R"({"format": "1.0", "sampleRate": 12})", "“sampleRate” must be a whole number from 8000"},
        {R"({"format": "1.0", "sampleRate": 44100.7})", "“sampleRate” must be a whole number from 8000"},
        {R"({"format": "1.0", "bufferFrames": 100000})", "“bufferFrames” must be a whole number"},
        {R"({"format": "1.1", "midi": [{"strip": 1, "source": "pc", "number": 3}]})", "“source” must be “cc” or “note”"},
    };
    for (const auto& c : cases) {
        const QString why = errorOf(parseSetup(c.json));
        EXPECT_TRUE(why.contains(QString::fromUtf8(c.reason))) << c.json.toStdString() << " → " << why.toStdString();
    }
    // Keys a newer minor version may add are passed over, and named.
    auto read = parseSetup(R"({"format": "1.7", "colour": "red", "strips": [{"strip": 3, "input": 2, "gain": 1}]})");
    ASSERT_TRUE(std::holds_alternative<ReadSetup>(read)) << errorOf(read).toStdString();
    EXPECT_EQ(std::get<ReadSetup>(read).ignoredKeys, (QStringList{"colour", "strip 3.gain"}));
    EXPECT_EQ(std::get<ReadSetup>(read).setup.strips[2].inputChannel, 1);
}

// Damaged or hostile files: a few thousand mutations of a valid setup (a value
// anywhere replaced by one of any type or past any range, then perhaps a byte
// changed or the end cut) each end in a setup, which a manager then takes, or
// in a message: a crash or an exception fails the run. One seed, so a failure
// comes back the same.
TEST(Setup, DamagedSetupsEndInASetupOrAMessage) {
    test::VirtualRig rig;
    test::LogCapture quiet; // thousands of notes on what was ignored or dropped
    const QJsonObject valid = QJsonDocument::fromJson(serializeSetup(sampleSetup())).object();
    const QJsonValue hostile[] = {QJsonValue(), true, 1e308, -1e308, 4294967296.0, -2147483649.0, 9007199254740993.0,
                                  0.5, -0.0, 3, QString(), QString(100000, QChar(0xd7ff)), QJsonArray{1, "2", QJsonValue()},
                                  QJsonObject{{"uri", 3}, {"strip", "one"}}, kGainUri};
    std::mt19937 random(20240611);
    auto below = [&](qsizetype n) { return n <= 0 ? 0 : std::uniform_int_distribution<qsizetype>(0, n - 1)(random); };
    std::function<QJsonValue(const QJsonValue&)> replaced = [&](const QJsonValue& value) -> QJsonValue {
        if (value.isObject() && below(4) != 0) {
            QJsonObject object = value.toObject();
            const QStringList keys = object.keys();
            const QString key = keys.isEmpty() || below(6) == 0 ? QStringLiteral("extra") : keys[below(keys.size())];
            object[key] = replaced(object.value(key));
            return object;
        }
        if (value.isArray() && !value.toArray().isEmpty() && below(4) != 0) {
            QJsonArray array = value.toArray();
            const qsizetype i = below(array.size());
            array[i] = replaced(array[i]);
            return array;
        }
        return hostile[below(qsizetype(std::size(hostile)))];
    };
    int read = 0;
    for (int i = 0; i < 2000; ++i) {
        QByteArray bytes = QJsonDocument(replaced(valid).toObject()).toJson(QJsonDocument::Compact);
        if (const int damage = int(below(4)); damage == 1)
            bytes[below(bytes.size())] = char(below(256));
        else if (damage == 2)
            bytes.truncate(below(bytes.size()));
        std::variant<ReadSetup, SetupReadError> result;
        ASSERT_NO_THROW(result = parseSetup(bytes)) << bytes.toStdString();
        if (const auto* error = std::get_if<SetupReadError>(&result)) {
            EXPECT_FALSE(error->message.isEmpty()) << bytes.toStdString();
            continue;
        }
        ++read;
        ASSERT_NO_THROW(give(*rig.manager, std::get<ReadSetup>(result))) << bytes.toStdString();
    }
    EXPECT_GT(read, 100) << "too few were setups still for the manager to be tried too";
}

TEST(Setup, GivenToTheManagerWhatTheDeviceOrInstallationLacksIsSaid) {
    ASSERT_TRUE(pathSet);
    test::VirtualRig rig;
    auto& manager = *rig.manager;
    test::LogCapture log;

    // Everything applied; the channels the device lacks left unset and named.
    ReadSetup read{sampleSetup(), {}};
    read.setup.strips[2] = {8, false, 0, false, corvane::Setup::Plugin{"urn:corvane:test:absent", "Gone Plug-in", {}}, false};
    read.setup.strips[3] = {0, false, 7, true, std::nullopt, false};
    QStringList notes = give(manager, read);
    EXPECT_EQ(notes, (QStringList{"Strip 3: input 9 is beyond “Virtual Audio Device” (8) - left unset.",
                                  "Strip 4: output 8-9 is beyond “Virtual Audio Device” (8) - left unset."}));
    EXPECT_EQ(manager.warningMessage(), notes.join(' '));
    EXPECT_EQ(manager.sampleRate(), 44100.0);
    EXPECT_EQ(manager.bufferFrames(), 128u);
    EXPECT_EQ(rig.strip(0).component()->uri, kGainUri);
    EXPECT_EQ(rig.strip(0).lastPluginState(), kHalfGain);
    EXPECT_TRUE(rig.strip(0).bypass());
    EXPECT_TRUE(rig.strip(0).outputStereo());
    EXPECT_EQ(rig.strip(5).inputChannel(), 6);
    EXPECT_EQ(rig.strip(2).inputChannel(), std::nullopt);
    EXPECT_EQ(rig.strip(2).outputChannel(), 0);
    EXPECT_EQ(rig.strip(3).outputChannel(), std::nullopt);
    EXPECT_EQ(manager.setups().capture().strips[0], sampleSetup().strips[0]);
    EXPECT_EQ(manager.setups().capture().midiMappings, sampleSetup().midiMappings);

    // A plug-in that is not installed stays on its strip, marked missing once
    // the catalog is known, and Start says so the way it says any load failure.
    ASSERT_TRUE(test::waitFor([&] { return rig.strip(2).componentMissing(); }, std::chrono::seconds(60)));
    EXPECT_FALSE(rig.strip(0).componentMissing());
    rig.strip(2).setInputChannel(3);
    EXPECT_TRUE(rig.start());
    ASSERT_TRUE(manager.pluginLoadFailure());
    EXPECT_EQ(manager.pluginLoadFailure()->slotID, 2);
    EXPECT_EQ(manager.pluginLoadFailure()->pluginName, "Gone Plug-in");
    EXPECT_FALSE(manager.isRunning());
    EXPECT_EQ(rig.strip(2).component()->uri, "urn:corvane:test:absent");

    // A state that does not parse: the plug-in keeps its defaults, one line says why.
    log.clear();
    read.setup.strips[0].plugin->state = "<urn:x> a [ broken";
    give(manager, read);
    EXPECT_EQ(rig.strip(0).lastPluginState(), std::nullopt);
    EXPECT_EQ(log.count("saved settings of “Fixture Gain” on strip 1 were dropped"), 1) << log.messages().join('\n').toStdString();

    // Opened while playing: nothing changes until the next start, and the
    // settings given then win over those of the effect that plays now.
    read.setup.strips[2] = {};
    read.setup.strips[0].plugin->state.reset();
    give(manager, read);
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(manager.isRunning()) << manager.errorText().toStdString();
    // A control the plug-in does not have is no mapping: dropped, and said once.
    EXPECT_EQ(log.count("the mapping of CC 7 (channel 1) to “volume” on strip 1 was dropped: “Fixture Gain” has no "
                        "such control"), 1);
    EXPECT_EQ(manager.setups().capture().midiMappings, sampleSetup().midiMappings.mid(0, 2));
    read.setup.strips[0].plugin->state = kHalfGain;
    EXPECT_EQ(give(manager, read), QStringList{"The setup takes effect at the next start."});
    EXPECT_TRUE(manager.isRunning());
    manager.stop();
    EXPECT_EQ(rig.strip(0).lastPluginState(), kHalfGain);

    // The device: by uid, else by name (else the first one, said so, is below).
    rig.device->addDevice({"virtual:other", "Other Device", 2, 2});
    rig.refresh();
    read.setup.strips = {};
    read.setup.deviceUid = "virtual:other";
    read.setup.deviceName = "Other Device";
    EXPECT_TRUE(give(manager, read).isEmpty());
    EXPECT_EQ(manager.selectedDevice()->uid, "virtual:other");
    read.setup.deviceUid = "usb:moved";
    read.setup.deviceName = "Virtual Audio Device";
    EXPECT_EQ(give(manager, read),
              QStringList{"“Virtual Audio Device” (usb:moved) is not present - using the device of the same name "
                          "(virtual:default)."});
    EXPECT_EQ(manager.selectedDevice()->uid, "virtual:default");
}

TEST(Setup, ItsDeviceIsLookedForInTheWholeListAndAStandInIsNotSavedOverIt) {
    using namespace std::chrono_literals;
    // A backend that lists its device late (as JACK does, from a thread of its
    // own) before the virtual device.
    test::FakeBackend* late = nullptr;
    auto makeRig = [&late] {
        auto fake = std::make_unique<test::FakeBackend>();
        late = fake.get();
        late->setSettled(false);
        std::vector<std::unique_ptr<hw::Backend>> backends;
        backends.push_back(std::move(fake));
        backends.push_back(std::make_unique<hw::VirtualBackend>());
        return std::make_unique<test::ManagerRig>(std::move(backends));
    };
    ReadSetup read;
    read.setup.deviceUid = "jack:system";
    read.setup.deviceName = "system";
    {
        auto rig = makeRig();
        auto& manager = *rig->manager;
        EXPECT_TRUE(give(manager, read).isEmpty());
        ASSERT_TRUE(rig->refresh());
        EXPECT_EQ(manager.devices().size(), 1);
        EXPECT_FALSE(manager.selectedDevice()) << "chosen before the late backend had looked";
        late->addDevice("jack:system", "system", 2, 2);
        late->setSettled(true);
        ASSERT_TRUE(test::runUntil(rig->clock, [&] { return manager.selectedDevice().has_value(); }, 1s));
        EXPECT_EQ(manager.selectedDevice()->uid, "jack:system");
        EXPECT_FALSE(manager.warningMessage());
    }
    {
        // Never there: once the manager stops waiting, the first device stands in.
        auto rig = makeRig();
        auto& manager = *rig->manager;
        give(manager, read);
        ASSERT_TRUE(rig->refresh());
        test::runFor(rig->clock, AudioEngineManager::kDevicePatience);
        ASSERT_TRUE(manager.selectedDevice());
        EXPECT_EQ(manager.selectedDevice()->uid.toStdString(), test::kVirtual);
        EXPECT_EQ(manager.warningText(), "“system” is not present - using “Virtual Audio Device”.");
        EXPECT_EQ(manager.setups().capture().deviceUid, "jack:system");
        EXPECT_EQ(manager.setups().capture().deviceName, "system");
        // Another device chosen is the setup's from then on.
        late->addDevice("usb:desk", "Desk", 2, 2);
        ASSERT_TRUE(rig->refresh());
        manager.selectDevice(manager.devices().first());
        EXPECT_EQ(manager.setups().capture().deviceUid, "usb:desk");
    }
}

TEST(Setup, AFailedOrInterruptedSaveLeavesThePreviousFileWhole) {
    QTemporaryDir dir;
    const QString path = dir.filePath("setup.json");
    corvane::Setup before = sampleSetup();
    ASSERT_EQ(writeSetupFile(path, before), std::nullopt);
    corvane::Setup after = before;
    after.strips[7].plugin = corvane::Setup::Plugin{kGainUri, "Fixture Gain", QByteArray(20000, ' ') + kHalfGain};
    auto loads = [&](const corvane::Setup& expected) {
        auto read = readSetupFile(path);
        return std::holds_alternative<ReadSetup>(read) && std::get<ReadSetup>(read).setup == expected;
    };

    // A folder that cannot hold the file: a message, nothing written.
    const QString blocked = dir.filePath("plain-file");
    QFile(blocked).open(QIODevice::WriteOnly);
    const auto refused = writeSetupFile(blocked + "/setup.json", after);
    ASSERT_TRUE(refused);
    EXPECT_TRUE(refused->startsWith("The setup could not be saved to " + blocked + "/setup.json: "));

    // The disk failing at each step, then the process dying at each step:
    // the old setup loads until the new one is whole.
    int steps = 0;
    writeSetupFile(dir.filePath("count.json"), after, [&](SetupWriteStep) { return ++steps > 0; });
    EXPECT_GT(steps, 4) << "the new file is written in several pieces";
    for (int failAt = 1; failAt < steps; ++failAt) {
        int step = 0;
        const auto failed = writeSetupFile(path, after, [&](SetupWriteStep) { return ++step < failAt; });
        ASSERT_TRUE(failed);
        EXPECT_TRUE(failed->endsWith("the write was interrupted"));
        EXPECT_TRUE(loads(before)) << "failed at step " << failAt;
    }
    for (int dieAt = 1; dieAt <= steps; ++dieAt) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int step = 0;
            writeSetupFile(path, after, [&](SetupWriteStep) {
                if (++step == dieAt)
                    _exit(0);
                return true;
            });
            _exit(1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_TRUE(loads(dieAt == steps ? after : before)) << "died at step " << dieAt;
        if (dieAt == steps) {
            ASSERT_EQ(writeSetupFile(path, before), std::nullopt);
        }
    }
}

TEST(Setup, OnlyARegularFileIsReadOrReplaced) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString toFifo = dir.filePath("to-fifo.json");
    ASSERT_TRUE(QFile::link(fifo, toFifo));
    const QString huge = dir.filePath("huge.json");
    QFile hugeFile(huge); // sparse: nothing is written
    ASSERT_TRUE(hugeFile.open(QIODevice::WriteOnly) && hugeFile.resize(17 << 20));
    hugeFile.close();

    // Refused at once: a pipe no one writes to, a device that never ends, and
    // a file far larger than a setup.
    EXPECT_EQ(errorOf(readSetupFile(fifo)), fifo + " is a pipe, not a setup file");
    EXPECT_EQ(errorOf(readSetupFile("/dev/zero")), "/dev/zero is a device, not a setup file");
    EXPECT_EQ(errorOf(readSetupFile(huge)), huge + " is too large to be a setup (over 16 MB)");
    // 16 MB itself is still read (and found not to be a setup).
    ASSERT_TRUE(hugeFile.resize(16 << 20));
    EXPECT_EQ(errorOf(readSetupFile(huge)).indexOf("too large"), -1);

    // A pipe is not replaced by a file, whether named or linked to.
    for (const QString& path : {fifo, toFifo})
        EXPECT_EQ(writeSetupFile(path, sampleSetup()),
                  "The setup could not be saved to " + path + ": it is a pipe, not a file");
    struct stat status = {};
    ASSERT_EQ(stat(QFile::encodeName(fifo).constData(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));

    // A link to a file is written through: the link stays.
    const QString target = dir.filePath("target.json");
    const QString link = dir.filePath("link.json");
    ASSERT_EQ(writeSetupFile(target, {}), std::nullopt);
    ASSERT_TRUE(QFile::link(target, link));
    ASSERT_EQ(writeSetupFile(link, sampleSetup()), std::nullopt);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(std::get<ReadSetup>(readSetupFile(target)).setup, sampleSetup());
}
