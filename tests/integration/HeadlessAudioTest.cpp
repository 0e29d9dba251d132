// Headless runs on a real JACK server and on an ALSA device that plays through
// one: the audio each strip routes, checked from outside by other clients, the
// server's xruns and period size as the report tells them, and controllers
// that switch a strip and set its plug-in's port.
#include "tests/integration/HeadlessRig.h"
#include "tests/support/AlsaJackPcm.h"
#include "tests/support/EventLoop.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <jack/midiport.h>

#include <array>
#include <atomic>
#include <cmath>
#include <memory>
#include <optional>

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

// Two sines that cannot be mistaken for each other, nor for their sum. Both
// reach their amplitude exactly (a quarter period is a whole sample).
constexpr Tone kFirst{0.5f, 48};    // 1 kHz at 48 kHz
constexpr Tone kSecond{0.25f, 120}; // 400 Hz

// A settings folder (for XDG_CONFIG_HOME) in which the window remembered
// `source` as the MIDI input.
std::unique_ptr<QTemporaryDir> rememberingMidiInput(const std::string& source) {
    auto config = std::make_unique<QTemporaryDir>();
    QSettings settings(config->filePath(QStringLiteral("corvane/corvane.conf")), QSettings::IniFormat);
    settings.setValue(QStringLiteral("Midi/ControlInput"), QString::fromStdString(source));
    return config;
}

TEST(HeadlessJack, EachStripCarriesItsInputToItsOutputAndTheReportCountsTheServersXruns) {
    JackServer server({.rate = 48000, .frames = 256, .inputs = 4, .outputs = 4});
    ASSERT_TRUE(server.start()) << server.logPath();
    // The listener listens before the program starts: for xruns until the
    // program's ports are gone, and so the feeder's ports are not taken for the program's.
    SignalClient listener("listener", {}, 2, "system:capture_1");
    ASSERT_TRUE(listener.ok());
    // A remembered MIDI input that is not there is said once; the run plays.
    const auto config = rememberingMidiInput("pedal:gone");
    HeadlessRun run(server, {{"XDG_CONFIG_HOME", config->path()}});
    ASSERT_TRUE(run.start({"--device", "jack:system", "--buffer", "256", "--strip", "1:in=1,out=2", "--strip",
                           "2:in=2,out=1"}));
    const std::string program = waitForProgramClient(listener);
    ASSERT_FALSE(program.empty()) << "the program's ports never appeared";
    SignalClient feeder("feeder", {kFirst, kSecond}, 0);
    ASSERT_TRUE(feeder.ok());
    // The listener's in_1 hears the program's out_1, which strip 2 feeds from in_2.
    for (const std::string k : {"1", "2"}) {
        ASSERT_TRUE(feeder.connect(feeder.name() + ":out_" + k, program + ":in_" + k));
        ASSERT_TRUE(listener.connect(program + ":out_" + k, listener.name() + ":in_" + k));
    }

    // A few periods for the connections to take effect, then 300 periods
    // (1.6 s) compared sample by sample with what the feeder played in the
    // same cycle. A period the server overran may reach the listener stale; a
    // wrong route, a delay or a gain would spoil every period, not one in fifty.
    ASSERT_TRUE(waitForPeriods(listener, 20));
    constexpr std::size_t kPeriods = 300, kFrames = 256;
    listener.record(kPeriods * kFrames);
    ASSERT_TRUE(waitFor([&] { return listener.recorded(); }, 5s));
    for (std::size_t k = 1; k <= 2; ++k) {
        const std::vector<float> heard = listener.recording(k);
        const Tone tone = k == 1 ? kSecond : kFirst;
        std::size_t matching = 0;
        for (std::size_t period = 0; period < kPeriods; ++period) {
            bool exact = true;
            for (std::size_t i = period * kFrames; i < (period + 1) * kFrames && exact; ++i)
                exact = std::abs(heard[i] - tone.at(listener.recordStart() + i)) <= SignalClient::kTolerance;
            matching += exact;
        }
        EXPECT_GE(matching, kPeriods - kPeriods / 50) << "out_" << k << ": " << matching << " periods matched";
    }

    // At 256 frames the dummy driver rarely misses a deadline by itself: three
    // overruns of about four periods each give the count something to count.
    for (int burst = 0; burst < 3; ++burst) {
        listener.overrun(20ms);
        ASSERT_TRUE(waitFor([&] { return !listener.overrunPending(); }));
        ASSERT_TRUE(waitForPeriods(listener, 40));
    }
    // Every xrun announced so far fell inside the run and long before its end:
    // the program must have counted each of them.
    const int surelyCounted = listener.xrunsWhileConnected();
    const QJsonObject report = run.interruptAndReport();
    // The window closes with the disconnection notice.
    EXPECT_TRUE(waitFor([&] { return listener.disconnects() == 1; }, 5000ms));
    EXPECT_EQ(listener.connects(), 1);
    EXPECT_GE(surelyCounted, 1) << "the overruns caused no xrun: the comparison would prove nothing";
    // The report is written a moment before the ports go, so an xrun in that
    // moment reaches only the listener; and the program counts from its start,
    // a moment before it connects its ports, so a busy machine's xrun in that
    // moment reaches only the program. Nothing it counts came before the
    // listener began to listen. On a quiet machine all three are equal.
    const int dropouts = report["dropouts"].toInt(-1);
    EXPECT_GE(dropouts, surelyCounted) << "announced while connected: " << listener.xrunsWhileConnected();
    EXPECT_LE(dropouts, listener.xruns()) << "announced while connected: " << listener.xrunsWhileConnected();

    EXPECT_TRUE(report["interrupted"].toBool());
    EXPECT_TRUE(report["error"].isNull());
    EXPECT_EQ(run.corvane.standardError().count("“pedal:gone” is not there"), 1)
        << run.corvane.standardError().toStdString();
    EXPECT_EQ(report["device"].toString(), "jack:system");
    EXPECT_EQ(report["sampleRate"]["actual"].toDouble(), 48000.0);
    EXPECT_EQ(report["bufferFrames"]["actual"].toInt(), 256);
    // A strip's levels in the report are what it carried.
    EXPECT_NEAR(report["strips"][1]["outputPeak"].toDouble(), kSecond.amplitude, 1e-4);
}

// The period size is the server's to keep: the run takes it as it is, follows
// a change someone else makes, and reports latency the way the server counts it.
TEST(HeadlessJack, LatencyIsTheServersToTheFrameAndAChangeMidRunIsFollowedWithoutARestart) {
    JackServer server({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 2});
    ASSERT_TRUE(server.start()) << server.logPath();
    HeadlessRun run(server, {{"QT_LOGGING_RULES", "corvane.engine.info=true"}});
    ASSERT_TRUE(run.start({"--device", "jack:system", "--strip", "1:in=1,out=1"}));
    SignalClient observer("observer", {}, 0);
    ASSERT_TRUE(observer.ok());
    const std::string program = waitForProgramClient(observer);
    ASSERT_FALSE(program.empty()) << "the program's ports never appeared";
    ASSERT_TRUE(waitForPeriods(observer, 20));
    // What the server says its ports add, at the size the run ends with.
    ASSERT_EQ(jack_set_buffer_size(observer.client(), 128), 0);
    ASSERT_TRUE(waitForPeriods(observer, 20));
    auto latency = [&](const std::string& port, jack_latency_callback_mode_t mode) {
        jack_latency_range_t range{};
        jack_port_get_latency_range(jack_port_by_name(observer.client(), port.c_str()), mode, &range);
        return range.max;
    };
    const auto capture = latency("system:capture_1", JackCaptureLatency);
    // Our ports pass audio through: what arrives on them is what leaves them.
    EXPECT_EQ(latency(program + ":out_1", JackCaptureLatency), capture);

    // The program's own word that it took the new size; its latency estimate
    // follows off the main thread, with nothing to say when, so a few more
    // periods (half a second) before the run is interrupted.
    ASSERT_TRUE(run.corvane.waitForStandardError("now runs periods of 128 frames", 10s))
        << run.corvane.standardError().toStdString();
    ASSERT_TRUE(waitForPeriods(observer, 200));
    const QJsonObject report = run.interruptAndReport();
    EXPECT_EQ(run.corvane.standardError().count("Engine started on"), 1) << run.corvane.standardError().toStdString();
    EXPECT_EQ(report["bufferFrames"]["actual"].toInt(), 128);
    EXPECT_EQ(report["bufferFrames"]["requested"].toInt(), 128) << "never chosen, so it follows the server";
    EXPECT_NEAR(report["latency"]["roundTripMs"].toDouble() * 48.0,
                double(capture + latency("system:playback_1", JackPlaybackLatency)), 0.1);
}

// A controller and a meter in one JACK client: what send() is given goes out
// of midi_out in the next period; level() is the last sample in_1 heard.
class ControlClient {
public:
    ControlClient() {
        client_ = jack_client_open("controller", JackNoStartServer, nullptr);
        if (!client_)
            return;
        midi_ = jack_port_register(client_, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        in_ = jack_port_register(client_, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client_, process, this);
        if (!midi_ || !in_ || jack_activate(client_) != 0) {
            jack_client_close(client_);
            client_ = nullptr;
        }
    }
    ~ControlClient() {
        if (client_)
            jack_client_close(client_);
    }
    bool ok() const { return client_ != nullptr; }
    std::string port(const char* name) const { return std::string(jack_get_client_name(client_)) + ":" + name; }
    bool connect(const std::string& from, const std::string& to) { return jack_connect(client_, from.c_str(), to.c_str()) == 0; }
    void send(std::uint8_t status, std::uint8_t number, std::uint8_t value) {
        queued_[written_.load() % queued_.size()] = {status, number, value};
        written_.fetch_add(1);
    }
    float level() const { return level_.load(); }
    bool hears(float expected) const { return waitFor([&] { return std::abs(level() - expected) < 1e-4f; }, 3s); }

private:
    static int process(jack_nframes_t frames, void* self) {
        auto& me = *static_cast<ControlClient*>(self);
        void* midi = jack_port_get_buffer(me.midi_, frames);
        jack_midi_clear_buffer(midi);
        for (const auto end = me.written_.load(); me.read_ < end; ++me.read_)
            jack_midi_event_write(midi, 0, me.queued_[me.read_ % me.queued_.size()].data(), 3);
        me.level_.store(static_cast<const float*>(jack_port_get_buffer(me.in_, frames))[frames - 1]);
        return 0;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* midi_ = nullptr;
    jack_port_t* in_ = nullptr;
    std::array<std::array<std::uint8_t, 3>, 64> queued_{};
    std::atomic<std::uint64_t> written_{0};
    std::uint64_t read_ = 0; // the process thread's
    std::atomic<float> level_{0.0f};
};

TEST(HeadlessJack, ControllersMappedInTheSetupSwitchTheStripAndSetItsPluginsPortAndTheReportCountsThem) {
    JackServer server({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 2});
    ASSERT_TRUE(server.start()) << server.logPath();
    SignalClient feeder("feeder", {Tone{0.25f, 0}}, 0);
    ASSERT_TRUE(feeder.ok());
    // The controller is the MIDI input the window remembered: the run wires it.
    ControlClient controller;
    ASSERT_TRUE(controller.ok());
    const auto config = rememberingMidiInput(controller.port("midi_out"));
    HeadlessRun run(server, {{"LV2_PATH", CORVANE_LV2_FIXTURE_DIR}, {"XDG_CONFIG_HOME", config->path()}});
    // Strip 1 through the gain fixture (gain 0-4, 1 to start); its switch on
    // CC 64 (channel 1, latching) and note 60 (momentary), its gain on CC 7.
    QFile setup(run.dir.filePath("midi.json"));
    ASSERT_TRUE(setup.open(QIODevice::WriteOnly));
    setup.write(R"({"format": "1.1", "strips": [{"strip": 1, "input": 1, "output": 1,
                    "plugin": {"uri": "urn:corvane:test:gain"}}],
                    "midi": [{"strip": 1, "source": "cc", "number": 64, "channel": 1},
                             {"strip": 1, "source": "note", "number": 60, "mode": "momentary"},
                             {"strip": 1, "parameter": "gain", "source": "cc", "number": 7}]})");
    setup.close();
    ASSERT_TRUE(run.start({"--device", "jack:system", "--setup", setup.fileName()}));
    const std::string program = waitForProgramClient(feeder);
    ASSERT_FALSE(program.empty()) << "the program's ports never appeared";
    ASSERT_TRUE(feeder.connect(feeder.outputName(1), program + ":in_1"));
    ASSERT_TRUE(controller.connect(program + ":out_1", controller.port("in_1")));
    ASSERT_TRUE(controller.hears(0.25f)) << controller.level();

    controller.send(0xB0, 7, 127); // gain 4
    EXPECT_TRUE(controller.hears(1.0f)) << controller.level();
    controller.send(0xB1, 64, 0); // channel 2: not the mapping's
    controller.send(0xB0, 64, 0); // latching: off, the strip bypassed
    EXPECT_TRUE(controller.hears(0.25f)) << controller.level();
    controller.send(0xB0, 64, 127);
    EXPECT_TRUE(controller.hears(1.0f)) << controller.level();
    controller.send(0x90, 60, 100); // momentary: each press flips, a release does nothing
    controller.send(0x80, 60, 0);
    EXPECT_TRUE(controller.hears(0.25f)) << controller.level();
    controller.send(0x90, 60, 100);
    EXPECT_TRUE(controller.hears(1.0f)) << controller.level();

    const QJsonObject report = run.interruptAndReport();
    EXPECT_EQ(report["midiEventsReceived"].toInt(), 7);
    EXPECT_EQ(report["midiEventsApplied"].toInt(), 5);
}

// On ALSA: a PCM of type `jack` named through CORVANE_ALSA_DEVICES carries a
// feeding client's tones into the program and its outputs to a listening
// client; its xruns and latency are the ALSA backend's own tests.
constexpr std::size_t kChunk = 256;

struct Match {
    std::size_t chunks = 0;
    std::size_t exact = 0;  // chunks where every sample is the tone's at one delay
    std::size_t shifts = 0; // times that delay changed from one exact chunk to the next
    std::string pattern;    // per chunk: '+' exact at the delay before, '/' exact at a new one, '.' not exact
};

// The ALSA path delays the audio by a few periods; each chunk must carry the
// tone sample for sample at some delay (modulo the tone's cycle, all a sine
// can tell). The delay may only change where the server skipped a cycle: the
// plug-in's client then loses one that the program never sees.
Match matchTone(const std::vector<float>& heard, const Tone& tone) {
    Match match;
    std::optional<std::size_t> delay;
    for (std::size_t start = 0; start + kChunk <= heard.size(); start += kChunk) {
        std::optional<std::size_t> fits;
        for (std::size_t offset = 0; offset < tone.periodFrames && !fits; ++offset) {
            bool exact = true;
            for (std::size_t i = start; i < start + kChunk && exact; ++i)
                exact = std::abs(heard[i] - tone.at(i + offset)) <= SignalClient::kTolerance;
            if (exact)
                fits = offset;
        }
        ++match.chunks;
        if (!fits) {
            match.pattern += '.';
            continue;
        }
        ++match.exact;
        const bool shifted = delay && *delay != *fits;
        match.shifts += shifted;
        match.pattern += shifted ? '/' : '+';
        delay = fits;
    }
    return match;
}

TEST(HeadlessAlsa, TwoTonesReachTheOutputsSampleExactlyThroughABufferOfTwoServerPeriods) {
    if (!AlsaJackPcm::pluginInstalled())
        GTEST_SKIP() << "ALSA's jack plug-in (libasound2-plugins) is not installed";
    // Twice the server's period: each transfer spans two of the server's cycles.
    const int buffer = 512;
    JackServer server({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 2});
    ASSERT_TRUE(server.start()) << server.logPath();
    SignalClient feeder("feeder", {kFirst, kSecond}, 0);
    SignalClient listener("listener", {}, 2);
    ASSERT_TRUE(feeder.ok() && listener.ok());
    AlsaJackPcm pcm("corvane_headless", {feeder.outputName(1), feeder.outputName(2)},
                    {listener.inputName(1), listener.inputName(2)});
    ASSERT_TRUE(pcm.ok());
    HeadlessRun run(server, {{"CORVANE_ALSA_DEVICES", "corvane_headless"},
                             {"ALSA_CONFIG_PATH", QString::fromStdString(pcm.configPath())}});
    ASSERT_TRUE(run.start({"--device", "alsa-pcm:corvane_headless", "--buffer", QString::number(buffer), "--strip",
                           "1:in=1,out=2", "--strip", "2:in=2,out=1"}));

    // The PCM connects itself once the program starts it.
    ASSERT_TRUE(waitFor([&] { return !listener.connections(listener.inputName(2)).empty(); }, 10s))
        << run.corvane.standardError().toStdString();
    ASSERT_TRUE(waitForPeriods(listener, 40));
    const int serverXruns = listener.xruns();
    listener.record(48000); // one second
    ASSERT_TRUE(waitFor([&] { return listener.recorded(); }, 5s));
    const int skipped = listener.xruns() - serverXruns;
    for (std::size_t k = 1; k <= 2; ++k) {
        const Match match = matchTone(listener.recording(k), k == 1 ? kSecond : kFirst);
        // A wrong route or gain spoils every chunk, a lost or repeated
        // sample shifts the delay; a cycle the server skipped may do both, once.
        EXPECT_LE(match.shifts, std::size_t(skipped)) << "in_" << k << ": " << match.pattern;
        EXPECT_GE(match.exact + std::size_t(skipped), match.chunks) << "in_" << k << ": " << match.pattern;
    }

    const QJsonObject report = run.interruptAndReport();
    EXPECT_EQ(report["device"].toString(), "alsa-pcm:corvane_headless");
    EXPECT_EQ(report["bufferFrames"]["actual"].toInt(), buffer);
}

} // namespace
} // namespace corvane::test
