// Duplex I/O through ALSA for real, on a PCM of type `jack` that plays
// through a private jackd: period negotiation, refused rates, xruns, a device
// that dies, and a card pulled and plugged again under a running engine.
#include "engine/AudioEngineManager.h"
#include "platform/hardware/AudioHardware.h"
#include "platform/hardware/alsa/AlsaBackend.h"
#include "tests/alsa/FakeAlsa.h"
#include "tests/support/AlsaJackPcm.h"
#include "tests/support/EventLoop.h"
#include "tests/support/JackServer.h"
#include "tests/support/ManagerRig.h"
#include "tests/support/ManualTime.h"
#include "tests/support/RealtimeChecker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

using namespace corvane;
using namespace std::chrono_literals;
using hw::Address;
using hw::AlsaBackend;
using hw::Scope;
using hw::Selector;

namespace {

constexpr const char* kPcm = "corvane_alsa_test";

// Passes input to output; spins (a period that overruns) when asked.
struct Passthrough : hw::IoCallback {
    std::atomic<std::uint64_t> periods{0};
    std::atomic<int> spinMs{0};
    std::atomic<float> heardPeak{0.0f};
    void process(const float* const* in, std::uint32_t inputs, float* const* out, std::uint32_t outputs,
                 std::uint32_t frames) noexcept override {
        float peak = 0;
        for (std::uint32_t c = 0; c < outputs; ++c)
            for (std::uint32_t f = 0; f < frames; ++f) {
                out[c][f] = c < inputs ? in[c][f] : 0.0f;
                peak = std::max(peak, std::abs(out[c][f]));
            }
        heardPeak.store(std::max(heardPeak.load(), peak));
        if (const int ms = spinMs.exchange(0)) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
            while (std::chrono::steady_clock::now() < until) {
            }
        }
        periods.fetch_add(1);
    }
};

bool ready(test::JackServer& server, std::string& why) {
    if (!test::AlsaJackPcm::pluginInstalled()) {
        why = "ALSA's jack plug-in (libasound2-plugins) is not installed";
        return false;
    }
    if (!server.start()) {
        why = "jackd did not start: " + server.logPath();
        return false;
    }
    return true;
}

} // namespace

TEST(AlsaIo, DuplexIoTakesTheNearestPeriodRefusesForeignRatesCountsEachXrunOnceAndLosesADeadDeviceUntilItIsBack) {
    test::JackServer server({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 2});
    std::string why;
    if (!ready(server, why))
        GTEST_SKIP() << why;
    test::AlsaJackPcm pcm(kPcm, {"system:capture_1", "system:capture_2"}, {"system:playback_1", "system:playback_2"});
    ASSERT_TRUE(pcm.ok());

    AlsaBackend::Options options;
    options.cards = std::make_shared<test::FakeCardList>();
    options.systemHotplug = false;
    options.userPcms = {kPcm};
    options.rescanInterval = 0ms;
    std::vector<std::unique_ptr<hw::Backend>> backends;
    backends.push_back(std::make_unique<AlsaBackend>(std::move(options)));
    hw::AudioHardware hardware(std::move(backends));
    auto* alsa = hardware.backend<AlsaBackend>();
    ASSERT_NE(alsa, nullptr);
    const auto ids = alsa->deviceIds();
    ASSERT_EQ(ids.size(), 1u);
    const auto device = ids[0];
    EXPECT_EQ(hardware.getAs<std::string>(device, Address{Selector::Uid}), std::string("alsa-pcm:") + kPcm);
    EXPECT_EQ(hardware.getAs<hw::StreamConfiguration>(device, Address{Selector::StreamConfiguration, Scope::Output}),
              (hw::StreamConfiguration{{2}}));

    // The server runs at 48 kHz with 256-frame periods; the PCM follows it.
    // A size between its steps (multiples of the server's) becomes the nearest it takes.
    // Listeners run on the backend's threads.
    std::atomic<int> sizeNews{0}, overloads{0}, listChanges{0}, latencyNews{0};
    hardware.addListener(device, Address{Selector::Latency}, [&] { ++latencyNews; });
    hardware.addListener(device, Address{Selector::BufferFrameSize}, [&] { ++sizeNews; });
    hardware.addListener(device, Address{Selector::Overload}, [&] { ++overloads; });
    hardware.addListener(hw::kSystemObject, Address{Selector::Devices}, [&] { ++listChanges; });
    EXPECT_FALSE(hardware.set(device, Address{Selector::NominalSampleRate}, 44100.0));
    EXPECT_EQ(hardware.getAs<std::vector<hw::ValueRange>>(device, Address{Selector::BufferFrameSizeRange})->front(),
              (hw::ValueRange{256, 256}));
    EXPECT_TRUE(hardware.set(device, Address{Selector::BufferFrameSize}, std::uint32_t(300)));
    EXPECT_EQ(hardware.getAs<std::uint32_t>(device, Address{Selector::BufferFrameSize}), 256u);
    EXPECT_EQ(sizeNews.load(), 0) << "256 already";

    Passthrough callback;
    std::string error;
    test::RealtimeChecker checker;
    ASSERT_TRUE(hardware.startIo(device, callback, error)) << error;
    EXPECT_EQ(hardware.getAs<std::uint32_t>(device, Address{Selector::BufferFrameSize}), 256u);
    EXPECT_EQ(hardware.getAs<std::uint32_t>(device, Address{Selector::Latency, Scope::Output}), 256u);
    EXPECT_FALSE(hardware.startIo(device, callback, error));
    // The jack plug-in reports no delay beyond its buffer; it was read, and said so.
    ASSERT_TRUE(test::waitFor([&] { return latencyNews > 0; }, 2s));
    EXPECT_EQ(hardware.getAs<std::uint32_t>(device, Address{Selector::SafetyOffset, Scope::Output}), 0u);
    EXPECT_EQ(hardware.getAs<std::uint32_t>(device, Address{Selector::SafetyOffset, Scope::Input}), 0u);

    // About a second of periods at 5.3 ms each, then two overruns of 60 ms.
    ASSERT_TRUE(test::waitFor([&] { return callback.periods.load() >= 150; }, 5s));
    const auto quietXruns = alsa->xrunCount(device);
    for (int overrun = 1; overrun <= 2; ++overrun) {
        callback.spinMs.store(60);
        const auto after = callback.periods.load() + 40;
        ASSERT_TRUE(test::waitFor([&] { return callback.periods.load() >= after; }, 5s));
    }
    ASSERT_TRUE(test::waitFor([&] { return overloads.load() == int(alsa->xrunCount(device)); }, 2s));
    EXPECT_GE(alsa->xrunCount(device), quietXruns + 2);
    EXPECT_EQ(checker.violations(), 0u) << checker.report();

    // The server dies: no period comes any more, and the device leaves the list.
    const auto lostAt = std::chrono::steady_clock::now();
    server.kill();
    ASSERT_TRUE(test::waitFor([&] { return listChanges > 0; }, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - lostAt, 2500ms);
    EXPECT_TRUE(alsa->deviceIds().empty());
    EXPECT_TRUE(hardware.stopIo(device));

    // It stays away while it opens; once it has not, a server that is back brings it back.
    alsa->rescan();
    EXPECT_TRUE(alsa->deviceIds().empty());
    ASSERT_TRUE(server.start()) << server.logPath();
    alsa->rescan();
    ASSERT_EQ(alsa->deviceIds().size(), 1u);
    EXPECT_NE(alsa->deviceIds()[0], device) << "a returning device gets a new id";
}

TEST(AlsaIo, ACardPulledWhileRunningStopsPlaybackWithTheDisconnectionMessageAndIsReselectedWhenItReturns) {
    test::JackServer server({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 2});
    std::string why;
    if (!ready(server, why))
        GTEST_SKIP() << why;
    test::AlsaJackPcm pcm(kPcm, {"system:capture_1", "system:capture_2"}, {"system:playback_1", "system:playback_2"});
    ASSERT_TRUE(pcm.ok());
    auto cards = std::make_shared<test::FakeCardList>();
    cards->openAs("USB", kPcm);
    const hw::alsa::CardInfo usb{1, "USB", "USB Audio", {{0, "USB Audio", true, true, std::nullopt}}};
    auto hotplug = std::make_unique<test::FakeHotplug>();
    auto* events = hotplug.get();
    AlsaBackend::Options options;
    options.cards = cards;
    options.hotplug = std::move(hotplug);
    options.rescanInterval = 0ms;
    std::vector<std::unique_ptr<hw::Backend>> backends;
    backends.push_back(std::make_unique<AlsaBackend>(std::move(options)));
    test::ManagerRig rig(std::move(backends));
    AudioEngineManager& m = *rig.manager;
    ASSERT_TRUE(rig.refresh());
    EXPECT_TRUE(m.devices().isEmpty());

    // Plugged in: it appears and, being the only device, is selected.
    cards->plug(usb);
    events->event();
    ASSERT_TRUE(test::runBeside(rig.clock, [&] { return m.selectedDevice().has_value(); }, 5s));
    EXPECT_EQ(m.selectedDevice()->uid, "alsa:USB,0");
    EXPECT_EQ(m.selectedDevice()->name, "USB Audio");
    rig.route(0, 1, false, 1, false);
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(m.isRunning()) << m.errorMessage().value_or("").toStdString();
    // The latency estimate holds the rest of the ALSA buffer: one more period out.
    ASSERT_TRUE(test::runBeside(rig.clock, [&] { return m.latencyEstimate().has_value(); }, 5s));
    EXPECT_EQ(m.latencyEstimate()->bufferFrames, 256);
    EXPECT_EQ(m.latencyEstimate()->outputDeviceFrames, 256);
    EXPECT_EQ(m.latencyEstimate()->inputDeviceFrames, 0);

    // Pulled while playing.
    const auto pulledAt = std::chrono::steady_clock::now();
    cards->pull("USB");
    events->event();
    ASSERT_TRUE(test::runBeside(rig.clock, [&] { return !m.isRunning() && m.errorMessage().has_value(); }, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - pulledAt, 1s);
    EXPECT_EQ(m.errorMessage(), QString("“USB Audio” was disconnected - playback was stopped."));
    EXPECT_FALSE(m.selectedDevice());

    // Back again: found by its uid and selected, the message gone.
    cards->plug(usb);
    events->event();
    ASSERT_TRUE(test::runBeside(rig.clock, [&] { return m.selectedDevice().has_value(); }, 5s));
    EXPECT_EQ(m.selectedDevice()->uid, "alsa:USB,0");
    EXPECT_FALSE(m.errorMessage());
}
