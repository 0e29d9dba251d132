// Duplex I/O through ALSA for real, on a PCM of type `jack` that plays
// through a private jackd: period negotiation, refused rates, xruns, and a device
// that dies and comes back.
#include "platform/hardware/AudioHardware.h"
#include "platform/hardware/alsa/AlsaBackend.h"
#include "tests/alsa/FakeAlsa.h"
#include "tests/support/AlsaJackPcm.h"
#include "tests/support/EventLoop.h"
#include "tests/support/JackServer.h"
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
    void process(const float* const* in, std::uint32_t inputs, float* const* out, std::uint32_t outputs,
                 std::uint32_t frames) noexcept override {
        for (std::uint32_t c = 0; c < outputs; ++c)
            for (std::uint32_t f = 0; f < frames; ++f)
                out[c][f] = c < inputs ? in[c][f] : 0.0f;
        if (const int ms = spinMs.exchange(0)) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
            while (std::chrono::steady_clock::now() < until) {
            }
        }
        periods.fetch_add(1);
    }
};

} // namespace

TEST(AlsaIo, DuplexIoTakesTheNearestPeriodRefusesForeignRatesCountsEachXrunOnceAndLosesADeadDeviceUntilItIsBack) {
    if (!test::AlsaJackPcm::pluginInstalled())
        GTEST_SKIP() << "ALSA's jack plug-in (libasound2-plugins) is not installed";
    test::JackServer server({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 2});
    if (!server.start())
        GTEST_SKIP() << "jackd did not start: " << server.logPath();
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
