// The virtual device's inputs, recording and loopback, driven period by period
// on the manual clock and checked sample by sample against the formulas.
#include "platform/engine/RealtimeScope.h"
#include "platform/hardware/AudioHardware.h"
#include "platform/hardware/virtual/SignalSource.h"
#include "platform/hardware/virtual/VirtualBackend.h"
#include "tests/hardware/IoProbe.h"
#include "tests/support/RealtimeChecker.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>

using namespace corvane::hw;
using corvane::test::IoProbe;

namespace {

constexpr const char* kUid = "virtual:default";

double sine(double frequency, double amplitude, std::uint64_t n, double rate) {
    return amplitude * std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(n) / rate);
}

class VirtualSignals : public ::testing::Test {
protected:
    VirtualSignals() {
        std::vector<std::unique_ptr<Backend>> backends;
        backends.push_back(std::make_unique<VirtualBackend>());
        hardware = std::make_unique<AudioHardware>(std::move(backends));
        virt = hardware->backend<VirtualBackend>();
        device = *virt->deviceId(kUid);
        virt->setClockMode(kUid, VirtualBackend::ClockMode::Manual);
    }
    ~VirtualSignals() override { hardware->stopIo(device); }

    // Starts I/O with `frames` per period, records, and runs enough periods for `total` frames.
    void run(std::uint32_t frames, std::uint64_t total) {
        ASSERT_TRUE(hardware->set(device, {Selector::BufferFrameSize}, frames));
        ASSERT_TRUE(virt->startRecording(kUid, total));
        std::string error;
        ASSERT_TRUE(hardware->startIo(device, probe, error)) << error;
        ASSERT_TRUE(virt->runPeriods(kUid, (total + frames - 1) / frames));
        hardware->stopIo(device);
    }

    std::unique_ptr<AudioHardware> hardware;
    VirtualBackend* virt = nullptr;
    ObjectId device = kNoObject;
    IoProbe probe;
};

// Writes a WAV file: 16-bit PCM (format 1) or 32-bit float (format 3), interleaved.
void writeWav(const std::string& path, std::uint16_t format, std::uint16_t channels,
              const std::vector<float>& samples) {
    const std::uint16_t bits = format == 1 ? 16 : 32;
    const std::uint32_t dataBytes = static_cast<std::uint32_t>(samples.size() * bits / 8);
    std::ofstream out(path, std::ios::binary);
    const auto u16 = [&](std::uint16_t v) { out.put(static_cast<char>(v & 0xff)).put(static_cast<char>(v >> 8)); };
    const auto u32 = [&](std::uint32_t v) { u16(static_cast<std::uint16_t>(v & 0xffff)); u16(static_cast<std::uint16_t>(v >> 16)); };
    out << "RIFF";
    u32(36 + dataBytes + 10);
    out << "WAVE";
    out << "LIST"; // a chunk the reader must skip
    u32(2);
    u16(0);
    out << "fmt ";
    u32(16);
    u16(format);
    u16(channels);
    u32(48000);
    u32(48000u * channels * bits / 8);
    u16(static_cast<std::uint16_t>(channels * bits / 8));
    u16(bits);
    out << "data";
    u32(dataBytes);
    for (float s : samples) {
        if (format == 1) {
            u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(s * 32768.0f))));
        } else {
            std::uint32_t raw;
            std::memcpy(&raw, &s, sizeof raw);
            u32(raw);
        }
    }
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
            ASSERT_NEAR(in[n], sine(200.0 * (c + 1), 0.05 * (c + 1), n, 48000.0), 1e-6) << c << " " << n;
            ASSERT_EQ(out[n], 0.5f * in[n]);
        }
    }
    EXPECT_TRUE(virt->recordedInput(kUid, 8).empty());
}

TEST_F(VirtualSignals, ChosenSignalsFollowTheirFormulasAtTheDeviceRate) {
    ASSERT_TRUE(hardware->set(device, {Selector::NominalSampleRate}, 44100.0));
    ASSERT_TRUE(virt->setInputSignal(kUid, 0, VirtualBackend::Sine{1000.0, 0.25}));
    ASSERT_TRUE(virt->setInputSignal(kUid, 1, VirtualBackend::Impulse{100, 0.75, 30}));
    ASSERT_TRUE(virt->setInputSignal(kUid, 2, VirtualBackend::Impulse{0, 1.0, 5}));
    ASSERT_TRUE(virt->setInputSignal(kUid, 3, VirtualBackend::Silence{}));
    ASSERT_TRUE(virt->setInputSignal(kUid, 4, VirtualBackend::Noise{0.5, 42}));
    EXPECT_FALSE(virt->setInputSignal(kUid, 8, VirtualBackend::Silence{}));
    run(128, 1024);

    const auto sineIn = virt->recordedInput(kUid, 0);
    const auto impulses = virt->recordedInput(kUid, 1);
    const auto single = virt->recordedInput(kUid, 2);
    const auto silence = virt->recordedInput(kUid, 3);
    const auto noise = virt->recordedInput(kUid, 4);
    double noiseSum = 0;
    for (std::uint64_t n = 0; n < 1024; ++n) {
        ASSERT_NEAR(sineIn[n], sine(1000.0, 0.25, n, 44100.0), 1e-6) << n;
        ASSERT_EQ(impulses[n], n >= 30 && (n - 30) % 100 == 0 ? 0.75f : 0.0f) << n;
        ASSERT_EQ(single[n], n == 5 ? 1.0f : 0.0f) << n;
        ASSERT_EQ(silence[n], 0.0f);
        ASSERT_EQ(noise[n], 0.5f * corvane::hw::virt::SignalSource::noiseAt(42, n));
        ASSERT_GE(noise[n], -0.5f);
        ASSERT_LT(noise[n], 0.5f);
        noiseSum += noise[n];
    }
    EXPECT_LT(std::abs(noiseSum / 1024), 0.05); // centred, not a constant
    EXPECT_NE(noise[0], noise[1]);
}

TEST_F(VirtualSignals, SignalsDependOnlyOnTheFrameIndexSinceStart) {
    ASSERT_TRUE(virt->setInputSignal(kUid, 0, VirtualBackend::Noise{1.0, 7}));
    ASSERT_TRUE(virt->setInputSignal(kUid, 1, VirtualBackend::Noise{1.0, 8}));
    run(64, 1000);
    const auto first = virt->recordedInput(kUid, 0);
    const auto otherSeed = virt->recordedInput(kUid, 1);
    const auto sineFirst = virt->recordedInput(kUid, 2);
    run(100, 1000); // another period size, and I/O restarted
    EXPECT_EQ(virt->recordedInput(kUid, 0), first);
    EXPECT_EQ(virt->recordedInput(kUid, 2), sineFirst);
    EXPECT_NE(otherSeed, first);
}

TEST_F(VirtualSignals, WavFilesLoopAndPickTheirChannel) {
    QTemporaryDir dir;
    const std::string mono = dir.filePath("mono.wav").toStdString();
    const std::string stereo = dir.filePath("stereo.wav").toStdString();
    const std::vector<float> monoSamples{0.0f, 0.5f, -1.0f, 0.25f, -0.125f};
    writeWav(mono, 1, 1, monoSamples);
    writeWav(stereo, 3, 2, {0.1f, -0.1f, 0.2f, -0.2f, 0.3f, -0.3f});

    ASSERT_TRUE(virt->setInputSignal(kUid, 6, VirtualBackend::Wav{mono}));
    ASSERT_TRUE(virt->setInputSignal(kUid, 0, VirtualBackend::Wav{stereo}));
    ASSERT_TRUE(virt->setInputSignal(kUid, 1, VirtualBackend::Wav{stereo}));
    ASSERT_TRUE(virt->setInputSignal(kUid, 5, VirtualBackend::Wav{stereo}));
    run(16, 64);

    const auto fromMono = virt->recordedInput(kUid, 6);
    const auto left = virt->recordedInput(kUid, 0);
    const auto right = virt->recordedInput(kUid, 1);
    const auto beyond = virt->recordedInput(kUid, 5);
    const float leftValues[] = {0.1f, 0.2f, 0.3f};
    for (std::size_t n = 0; n < 64; ++n) {
        ASSERT_EQ(fromMono[n], monoSamples[n % 5]) << n;
        ASSERT_EQ(left[n], leftValues[n % 3]) << n;
        ASSERT_EQ(right[n], -leftValues[n % 3]) << n;
        ASSERT_EQ(beyond[n], left[n]) << n; // a channel the file lacks takes its first
    }
}

TEST_F(VirtualSignals, UnreadableWavFilesAreRefusedAndKeepTheOldSignal) {
    QTemporaryDir dir;
    const std::string text = dir.filePath("text.wav").toStdString();
    std::ofstream(text) << "not audio at all";
    const std::string empty = dir.filePath("empty.wav").toStdString();
    writeWav(empty, 1, 1, {});

    ASSERT_TRUE(virt->setInputSignal(kUid, 0, VirtualBackend::Impulse{10, 1.0, 0}));
    for (const std::string& path : {dir.filePath("missing.wav").toStdString(), text, empty}) {
        std::string error;
        EXPECT_FALSE(virt->setInputSignal(kUid, 0, VirtualBackend::Wav{path}, &error)) << path;
        EXPECT_NE(error.find(path), std::string::npos) << error;
    }
    run(32, 32);
    const auto in = virt->recordedInput(kUid, 0);
    EXPECT_EQ(in[0], 1.0f);
    EXPECT_EQ(in[10], 1.0f);
    EXPECT_EQ(in[11], 0.0f);
}

TEST_F(VirtualSignals, LoopbackDelaysOutputsExactlyToTheSample) {
    probe.ramp = true;
    ASSERT_TRUE(virt->setLoopback(kUid, 300));
    run(64, 640);
    for (std::uint32_t c : {0u, 7u}) {
        const auto in = virt->recordedInput(kUid, c);
        const auto out = virt->recordedOutput(kUid, c);
        for (std::uint64_t n = 0; n < 640; ++n) {
            ASSERT_EQ(out[n], static_cast<float>((n + 1) * (c + 1)));
            ASSERT_EQ(in[n], n < 300 ? 0.0f : out[n - 300]) << c << " " << n;
        }
    }
}

TEST_F(VirtualSignals, LoopbackShorterThanAPeriodTakesOnePeriod) {
    probe.ramp = true;
    ASSERT_TRUE(virt->setLoopback(kUid, 10));
    run(64, 256);
    const auto in = virt->recordedInput(kUid, 2);
    const auto out = virt->recordedOutput(kUid, 2);
    for (std::uint64_t n = 0; n < 256; ++n)
        ASSERT_EQ(in[n], n < 64 ? 0.0f : out[n - 64]) << n;
}

TEST_F(VirtualSignals, LoopbackAndSignalsSwitchWhileRunning) {
    probe.ramp = true;
    ASSERT_TRUE(hardware->set(device, {Selector::BufferFrameSize}, std::uint32_t{32}));
    ASSERT_TRUE(virt->startRecording(kUid, 32 * 6));
    std::string error;
    ASSERT_TRUE(hardware->startIo(device, probe, error)) << error;
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
        ASSERT_NEAR(in[n], sine(200.0, 0.05, n, 48000.0), 1e-6) << n;
    // A new loopback has heard nothing before it began.
    for (std::uint64_t n = 64; n < 128; ++n)
        ASSERT_EQ(in[n], n < 104 ? 0.0f : out[n - 40]) << n;
    for (std::uint64_t n = 128; n < 192; ++n)
        ASSERT_EQ(in[n], n == 128 ? 1.0f : 0.0f) << n;
}

TEST_F(VirtualSignals, RecordingStopsAtItsLimitAndOnRequest) {
    ASSERT_TRUE(virt->startRecording(kUid, 100));
    std::string error;
    ASSERT_TRUE(hardware->startIo(device, probe, error));
    ASSERT_TRUE(virt->runPeriods(kUid, 3));
    EXPECT_EQ(virt->recordedInput(kUid, 0).size(), 100u);

    ASSERT_TRUE(virt->startRecording(kUid, 1000));
    ASSERT_TRUE(virt->runPeriods(kUid, 1));
    virt->stopRecording(kUid);
    ASSERT_TRUE(virt->runPeriods(kUid, 1));
    hardware->stopIo(device);
    const auto in = virt->recordedInput(kUid, 0);
    ASSERT_EQ(in.size(), 256u);
    // The second recording began at frame 768 of the running I/O.
    EXPECT_NEAR(in[0], sine(200.0, 0.05, 768, 48000.0), 1e-6);

    // A stopped recording does not resume with the next start of I/O.
    ASSERT_TRUE(hardware->startIo(device, probe, error));
    ASSERT_TRUE(virt->runPeriods(kUid, 1));
    EXPECT_EQ(virt->recordedInput(kUid, 0), in);
}

TEST_F(VirtualSignals, PeriodsNeverTouchTheHeap) {
    QTemporaryDir dir;
    const std::string wav = dir.filePath("tone.wav").toStdString();
    writeWav(wav, 1, 1, {0.5f, -0.5f, 0.25f});
    ASSERT_TRUE(virt->setInputSignal(kUid, 1, VirtualBackend::Wav{wav}));
    ASSERT_TRUE(virt->setInputSignal(kUid, 2, VirtualBackend::Noise{0.5, 3}));
    ASSERT_TRUE(virt->setInputSignal(kUid, 3, VirtualBackend::Impulse{7, 1.0, 2}));
    ASSERT_TRUE(virt->setInputSignal(kUid, 4, VirtualBackend::Silence{}));
    ASSERT_TRUE(virt->startRecording(kUid, 1000));
    std::string error;
    ASSERT_TRUE(hardware->startIo(device, probe, error));

    // Manual periods run the I/O thread's own code on this thread.
    corvane::test::RealtimeChecker checker;
    {
        corvane::engine::RealtimeScope scope;
        ASSERT_TRUE(virt->runPeriods(kUid, 2));
    }
    ASSERT_TRUE(virt->setLoopback(kUid, 300));
    {
        corvane::engine::RealtimeScope scope;
        ASSERT_TRUE(virt->runPeriods(kUid, 8)); // the recording fills up on the way
    }
    EXPECT_EQ(checker.violations(), 0u) << checker.report();
    EXPECT_EQ(virt->recordedInput(kUid, 0).size(), 1000u);
}
