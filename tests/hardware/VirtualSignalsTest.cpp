// The virtual device's inputs, recording and loopback, driven period by period
// on the manual clock and checked sample by sample against the formulas; the
// periods, which run the I/O thread's own code on the test's thread, under the
// real-time checker.
#include "tests/hardware/VirtualRig.h"
#include "tests/support/RealtimeChecker.h"

#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>

using namespace corvane::hw;
using namespace corvane::test;

namespace {

double sine(double frequency, double amplitude, std::uint64_t n, double rate = 48000.0) {
    return amplitude * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(n) / rate);
}

class VirtualSignals : public VirtualRig {
protected:
    VirtualSignals() { virt->setClockMode(kUid, VirtualBackend::ClockMode::Manual); }
    void TearDown() override { EXPECT_EQ(checker.violations(), 0u) << checker.report(); }

    // Starts I/O with `frames` per period, records, and runs enough periods for `total` frames.
    void run(std::uint32_t frames, std::uint64_t total) {
        ASSERT_TRUE(hardware->set(device, {Selector::BufferFrameSize}, frames));
        ASSERT_TRUE(virt->startRecording(kUid, total));
        ASSERT_TRUE(start(probe));
        ASSERT_TRUE(virt->runPeriods(kUid, (total + frames - 1) / frames));
        hardware->stopIo(device);
    }
    std::string wav(const char* name, std::uint16_t format, std::uint16_t channels, const std::vector<float>& samples);

    QTemporaryDir dir;
    RealtimeChecker checker;
};

// Writes a 48 kHz WAV file, 16-bit PCM (format 1) or 32-bit float (format 3),
// with a chunk before "fmt " that the reader must skip.
std::string VirtualSignals::wav(const char* name, std::uint16_t format, std::uint16_t channels,
                                const std::vector<float>& samples) {
    const std::uint32_t bytes = format == 1 ? 2 : 4;
    const auto dataBytes = static_cast<std::uint32_t>(samples.size()) * bytes;
    std::string file;
    const auto le = [&](std::uint32_t value, std::uint32_t size) {
        for (std::uint32_t i = 0; i < size; ++i)
            file += static_cast<char>((value >> (8 * i)) & 0xff);
    };
    file += "RIFF";
    le(46 + dataBytes, 4);
    file += "WAVELIST";
    le(2, 4), le(0, 2);
    file += "fmt ";
    le(16, 4), le(format, 2), le(channels, 2), le(48000, 4), le(48000 * channels * bytes, 4);
    le(channels * bytes, 2), le(bytes * 8, 2);
    file += "data";
    le(dataBytes, 4);
    for (float sample : samples) {
        std::uint32_t raw = static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(sample * 32768.0f)));
        if (format == 3)
            std::memcpy(&raw, &sample, sizeof raw);
        le(raw, bytes);
    }
    const std::string path = dir.filePath(name).toStdString();
    std::ofstream(path, std::ios::binary) << file;
    return path;
}

} // namespace

TEST_F(VirtualSignals, DefaultInputsAreRisingSinesAndOutputsAreRecorded) {
    probe.gain = 0.5f;
    run(64, 300); // the recording ends mid-period
    EXPECT_EQ(virt->framesProcessed(kUid), 320u);
    for (std::uint32_t c = 0; c < 8; ++c) {
        const auto in = virt->recordedInput(kUid, c);
        const auto out = virt->recordedOutput(kUid, c);
        ASSERT_EQ(in.size(), 300u);
        ASSERT_EQ(out.size(), 300u);
        for (std::uint64_t n = 0; n < in.size(); ++n) {
            ASSERT_NEAR(in[n], sine(200.0 * (c + 1), 0.05 * (c + 1), n), 1e-6) << c << " " << n;
            ASSERT_EQ(out[n], 0.5f * in[n]);
        }
    }
    EXPECT_TRUE(virt->recordedInput(kUid, 8).empty());
    EXPECT_TRUE(probe.realtime);
}

TEST_F(VirtualSignals, ChosenSignalsFollowTheirFormulasAtTheDeviceRateFromTheStartOfIo) {
    ASSERT_TRUE(hardware->set(device, {Selector::NominalSampleRate}, 44100.0));
    const VirtualBackend::Signal chosen[] = {VirtualBackend::Sine{1000.0, 0.25}, VirtualBackend::Impulse{100, 0.75, 30},
                                             VirtualBackend::Impulse{0, 1.0, 5},     VirtualBackend::Silence{},
                                             VirtualBackend::Noise{0.5, 42},         VirtualBackend::Noise{0.5, 43}};
    for (std::uint32_t c = 0; c < 6; ++c)
        ASSERT_TRUE(virt->setInputSignal(kUid, c, chosen[c]));
    EXPECT_FALSE(virt->setInputSignal(kUid, 8, VirtualBackend::Silence{}));
    run(128, 1024);

    std::vector<std::vector<float>> in;
    for (std::uint32_t c = 0; c < 6; ++c)
        in.push_back(virt->recordedInput(kUid, c));
    // Another period size, and I/O restarted: every sample depends only on its frame index.
    run(100, 1024);
    for (std::uint32_t c = 0; c < 6; ++c)
        EXPECT_EQ(virt->recordedInput(kUid, c), in[c]) << c;
    EXPECT_NE(in[4], in[5]); // the seed matters
    double noiseSum = 0;
    for (std::uint64_t n = 0; n < 1024; ++n) {
        ASSERT_NEAR(in[0][n], sine(1000.0, 0.25, n, 44100.0), 1e-6) << n;
        ASSERT_EQ(in[1][n], n >= 30 && (n - 30) % 100 == 0 ? 0.75f : 0.0f) << n;
        ASSERT_EQ(in[2][n], n == 5 ? 1.0f : 0.0f) << n;
        ASSERT_EQ(in[3][n], 0.0f);
        ASSERT_TRUE(in[4][n] >= -0.5f && in[4][n] < 0.5f) << in[4][n];
        noiseSum += in[4][n];
    }
    EXPECT_LT(std::abs(noiseSum / 1024), 0.05); // centred, not a constant
    EXPECT_NE(in[4][0], in[4][1]);
}

TEST_F(VirtualSignals, WavFilesLoopPickTheirChannelAndUnreadableOnesAreRefused) {
    const std::vector<float> monoSamples{0.0f, 0.5f, -1.0f, 0.25f, -0.125f};
    const std::string mono = wav("mono.wav", 1, 1, monoSamples);
    const std::string stereo = wav("stereo.wav", 3, 2, {0.1f, -0.1f, 0.2f, -0.2f, 0.3f, -0.3f});
    ASSERT_TRUE(virt->setInputSignal(kUid, 6, VirtualBackend::Wav{mono}));
    for (std::uint32_t c : {0u, 1u, 5u})
        ASSERT_TRUE(virt->setInputSignal(kUid, c, VirtualBackend::Wav{stereo}));

    // A file that cannot be read is refused with its path and keeps the old signal.
    ASSERT_TRUE(virt->setInputSignal(kUid, 2, VirtualBackend::Impulse{10, 1.0, 0}));
    const std::string text = dir.filePath("text.wav").toStdString();
    std::ofstream(text) << "not audio at all";
    for (const std::string& path : {dir.filePath("missing.wav").toStdString(), text, wav("empty.wav", 1, 1, {})}) {
        std::string error;
        EXPECT_FALSE(virt->setInputSignal(kUid, 2, VirtualBackend::Wav{path}, &error)) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
    }
    run(16, 64);

    const auto in = [&](std::uint32_t c) { return virt->recordedInput(kUid, c); };
    const float leftValues[] = {0.1f, 0.2f, 0.3f};
    for (std::size_t n = 0; n < 64; ++n) {
        ASSERT_EQ(in(6)[n], monoSamples[n % 5]) << n;
        ASSERT_EQ(in(0)[n], leftValues[n % 3]) << n;
        ASSERT_EQ(in(1)[n], -leftValues[n % 3]) << n;
        ASSERT_EQ(in(5)[n], leftValues[n % 3]) << n; // a channel the file lacks takes its first
        ASSERT_EQ(in(2)[n], n % 10 == 0 ? 1.0f : 0.0f) << n;
    }
}

TEST_F(VirtualSignals, LoopbackDelaysOutputsExactlyToTheSampleAndByAtLeastAPeriod) {
    probe.ramp = true;
    for (auto [delay, effective] : {std::pair{300u, 300u}, std::pair{10u, 64u}}) {
        ASSERT_TRUE(virt->setLoopback(kUid, delay));
        run(64, 640);
        for (std::uint32_t c : {0u, 7u}) {
            const auto in = virt->recordedInput(kUid, c);
            const auto out = virt->recordedOutput(kUid, c);
            for (std::uint64_t n = 0; n < 640; ++n)
                ASSERT_EQ(in[n], n < effective ? 0.0f : out[n - effective]) << delay << " " << c << " " << n;
        }
    }
}

TEST_F(VirtualSignals, LoopbackAndSignalsSwitchWhileRunning) {
    probe.ramp = true;
    ASSERT_TRUE(hardware->set(device, {Selector::BufferFrameSize}, std::uint32_t{32}));
    ASSERT_TRUE(virt->startRecording(kUid, 32 * 6));
    ASSERT_TRUE(start(probe));
    ASSERT_TRUE(virt->runPeriods(kUid, 2));
    ASSERT_TRUE(virt->setLoopback(kUid, 40));
    ASSERT_TRUE(virt->runPeriods(kUid, 2));
    ASSERT_TRUE(virt->setLoopback(kUid, std::nullopt));
    ASSERT_TRUE(virt->setInputSignal(kUid, 0, VirtualBackend::Impulse{0, 1.0, 128}));
    ASSERT_TRUE(virt->runPeriods(kUid, 2));
    const auto in = virt->recordedInput(kUid, 0);
    const auto out = virt->recordedOutput(kUid, 0);
    ASSERT_EQ(in.size(), 192u);
    for (std::uint64_t n = 0; n < 64; ++n)
        ASSERT_NEAR(in[n], sine(200.0, 0.05, n), 1e-6) << n;
    for (std::uint64_t n = 64; n < 128; ++n) // a new loopback has heard nothing before it began
        ASSERT_EQ(in[n], n < 104 ? 0.0f : out[n - 40]) << n;
    for (std::uint64_t n = 128; n < 192; ++n)
        ASSERT_EQ(in[n], n == 128 ? 1.0f : 0.0f) << n;
}

TEST_F(VirtualSignals, RecordingBeginsWhereTheRunningIoIsAndStopsOnRequestForGood) {
    ASSERT_TRUE(start(probe));
    ASSERT_TRUE(virt->runPeriods(kUid, 3));
    ASSERT_TRUE(virt->startRecording(kUid, 1000));
    ASSERT_TRUE(virt->runPeriods(kUid, 1));
    virt->stopRecording(kUid);
    ASSERT_TRUE(virt->runPeriods(kUid, 1));
    hardware->stopIo(device);
    const auto in = virt->recordedInput(kUid, 0);
    ASSERT_EQ(in.size(), 256u);
    // The second recording began at frame 768 of the running I/O.
    EXPECT_NEAR(in[0], sine(200.0, 0.05, 768), 1e-6);

    // A stopped recording does not resume with the next start of I/O.
    ASSERT_TRUE(start(probe));
    ASSERT_TRUE(virt->runPeriods(kUid, 1));
    EXPECT_EQ(virt->recordedInput(kUid, 0), in);
}
