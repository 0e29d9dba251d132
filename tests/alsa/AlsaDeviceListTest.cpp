// The ALSA backend's device list: cards (from a fake card list that opens as
// ALSA's own `null` PCM), the PCMs a user names, what a holder changes, and
// hot-plug events; then the system's own card list and udev, where there are.
#include "platform/hardware/AudioHardware.h"
#include "platform/hardware/alsa/AlsaBackend.h"
#include "tests/alsa/FakeAlsa.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace corvane;
using hw::Address;
using hw::AlsaBackend;
using hw::Scope;
using hw::Selector;

namespace {

struct Listed {
    hw::ObjectId id;
    std::string uid, name;
};

std::vector<Listed> listed(const hw::AudioHardware& hardware) {
    std::vector<Listed> result;
    for (auto id : hardware.getAs<std::vector<hw::ObjectId>>(hw::kSystemObject, Address{Selector::Devices}).value_or(
             std::vector<hw::ObjectId>{}))
        result.push_back({id, hardware.getAs<std::string>(id, Address{Selector::Uid}).value_or("?"),
                          hardware.getAs<std::string>(id, Address{Selector::Name}).value_or("?")});
    return result;
}

std::optional<hw::ObjectId> idOf(const hw::AudioHardware& hardware, const std::string& uid) {
    for (const auto& device : listed(hardware))
        if (device.uid == uid)
            return device.id;
    return std::nullopt;
}

} // namespace

TEST(AlsaDeviceList, CardsAndNamedPcmsAreListedWithWhatTheyAcceptAndHotPlugEventsChangeTheList) {
    auto cards = std::make_shared<test::FakeCardList>();
    // PCH: analog held by a JACK server (left out), HDMI free; USB free; Busy held by a sound server.
    cards->plug({0, "PCH", "HDA Intel PCH",
                     {{0, "ALC892 Analog", true, true, hw::alsa::PcmHolder{4141, "jackd"}},
                      {3, "HDMI 0", false, true, std::nullopt}}});
    cards->plug({1, "USB", "USB Audio", {{0, "USB Audio", true, true, std::nullopt}}});
    cards->plug({2, "Busy", "Busy Card", {{0, "Busy", true, true, hw::alsa::PcmHolder{4242, "pulseaudio"}}}});
    cards->openAs("PCH", "null");
    cards->openAs("USB", "null");
    auto hotplug = std::make_unique<test::FakeHotplug>();
    auto* events = hotplug.get();

    test::LogCapture log;
    AlsaBackend::Options options;
    options.cards = cards;
    options.hotplug = std::move(hotplug);
    options.userPcms = AlsaBackend::splitPcmNames(" corvane_no_such_pcm , null");
    options.rescanInterval = std::chrono::milliseconds(0);
    std::vector<std::unique_ptr<hw::Backend>> backends;
    backends.push_back(std::make_unique<AlsaBackend>(std::move(options)));
    hw::AudioHardware hardware(std::move(backends));
    auto* alsa = hardware.backend<AlsaBackend>();
    ASSERT_NE(alsa, nullptr);
    EXPECT_TRUE(alsa->watchesHotplug());

    const auto before = listed(hardware);
    ASSERT_EQ(before.size(), 4u);
    EXPECT_EQ(before[0].uid, "alsa:PCH,3");
    EXPECT_EQ(before[0].name, "HDA Intel PCH - HDMI 0");
    EXPECT_EQ(before[1].uid, "alsa:USB,0");
    EXPECT_EQ(before[1].name, "USB Audio");
    EXPECT_EQ(before[2].uid, "alsa:Busy,0");
    EXPECT_EQ(before[2].name, "Busy Card (in use by pulseaudio)");
    EXPECT_EQ(before[3].uid, "alsa-pcm:null");
    EXPECT_EQ(log.count("corvane_no_such_pcm"), 1) << log.messages().join('\n').toStdString();

    // What the device accepts: channels up to the most offered, the rates
    // among 44.1-192 kHz, a period range, latency beyond the engine's period.
    const auto usb = *idOf(hardware, "alsa:USB,0");
    EXPECT_EQ(hardware.getAs<hw::StreamConfiguration>(usb, Address{Selector::StreamConfiguration, Scope::Input}),
              (hw::StreamConfiguration{{hw::alsa::kMaxChannels}}));
    EXPECT_EQ(hardware.getAs<double>(usb, Address{Selector::NominalSampleRate}), 48000.0);
    EXPECT_TRUE(hardware.set(usb, Address{Selector::NominalSampleRate}, 96000.0));
    EXPECT_FALSE(hardware.set(usb, Address{Selector::NominalSampleRate}, 22050.0));
    EXPECT_EQ(hardware.getAs<double>(usb, Address{Selector::NominalSampleRate}), 96000.0);
    std::vector<hw::ValueRange> powersOfTwo;
    for (double size = 16; size <= 8192; size *= 2)
        powersOfTwo.push_back({size, size});
    EXPECT_EQ(hardware.getAs<std::vector<hw::ValueRange>>(usb, Address{Selector::BufferFrameSizeRange}), powersOfTwo);
    EXPECT_TRUE(hardware.set(usb, Address{Selector::BufferFrameSize}, std::uint32_t(128)));
    EXPECT_FALSE(hardware.set(usb, Address{Selector::BufferFrameSize}, std::uint32_t(8)));
    EXPECT_EQ(hardware.getAs<std::uint32_t>(usb, Address{Selector::Latency, Scope::Output}), 128u);
    EXPECT_EQ(hardware.getAs<std::uint32_t>(usb, Address{Selector::Latency, Scope::Input}), 0u);

    // A held card fails to start with the holder's name.
    struct Silent : hw::IoCallback {
        void process(const float* const*, std::uint32_t, float* const* out, std::uint32_t outputs,
                     std::uint32_t frames) noexcept override {
            for (std::uint32_t c = 0; c < outputs; ++c)
                std::fill(out[c], out[c] + frames, 0.0f);
        }
    } silent;
    std::string error;
    EXPECT_FALSE(hardware.startIo(*idOf(hardware, "alsa:Busy,0"), silent, error));
    EXPECT_EQ(error, "“Busy Card” is in use by another program (pulseaudio, process 4242).");

    // Hot-plug: a new card, the JACK server letting go of PCH, USB pulled.
    std::atomic<int> listChanges{0};
    hardware.addListener(hw::kSystemObject, Address{Selector::Devices}, [&] { ++listChanges; });
    cards->plug({3, "Mic", "USB Mic", {{0, "USB Mic", true, false, std::nullopt}}});
    cards->openAs("Mic", "null");
    cards->plug({0, "PCH", "HDA Intel PCH",
                     {{0, "ALC892 Analog", true, true, std::nullopt}, {3, "HDMI 0", false, true, std::nullopt}}});
    cards->pull("USB");
    events->event();
    events->event(); // a burst of events is one look
    ASSERT_TRUE(test::waitFor([&] { return listChanges > 0; }));
    test::drainEvents();
    EXPECT_EQ(listChanges.load(), 1);
    std::vector<std::string> uids;
    for (const auto& device : listed(hardware))
        uids.push_back(device.uid);
    EXPECT_EQ(uids, (std::vector<std::string>{"alsa:PCH,0", "alsa:PCH,3", "alsa:Busy,0", "alsa:Mic,0", "alsa-pcm:null"}));
    const auto mic = *idOf(hardware, "alsa:Mic,0");
    EXPECT_EQ(hardware.getAs<hw::StreamConfiguration>(mic, Address{Selector::StreamConfiguration, Scope::Output}),
              hw::StreamConfiguration{});
    EXPECT_FALSE(idOf(hardware, "alsa:USB,0"));
    EXPECT_EQ(log.count("corvane_no_such_pcm"), 1) << "a missing PCM is reported once";
}

TEST(AlsaDeviceList, TheSystemsCardsAndUdevMonitorWorkWhereTheMachineHasThem) {
    hw::alsa::UdevMonitor monitor;
    const bool watching = monitor.start([] {});
    const auto cards = hw::alsa::SystemCardList().cards();
    AlsaBackend::Options options;
    options.rescanInterval = std::chrono::milliseconds(0);
    AlsaBackend backend(std::move(options));
    EXPECT_EQ(backend.watchesHotplug(), watching);
    std::size_t devices = 0;
    for (const auto& c : cards) {
        EXPECT_FALSE(c.id.empty());
        for (const auto& d : c.devices) {
            EXPECT_TRUE(d.capture || d.playback);
            devices += !(d.holder && (d.holder->program == "jackd" || d.holder->program == "jackdbus"));
        }
    }
    EXPECT_EQ(backend.deviceIds().size(), devices);
    if (!watching)
        std::printf("udev: no monitor here (no netlink socket for udev events)\n");
    if (cards.empty())
        GTEST_SKIP() << "this machine has no sound card: the system's card list is empty (udev monitor "
                     << (watching ? "started" : "unavailable") << ")";
}
