// The JACK server's physical ports as devices, and their properties.
#include "tests/jack/JackHardwareFixture.h"
#include "tests/jack/JackProbeClient.h"

namespace corvane::test {
namespace {

using hw::Address;
using hw::Scope;
using hw::Selector;

using JackDevices = JackHardwareFixture;

TEST_F(JackDevices, SystemClientIsTheOnlyDeviceAndCarriesTheServersSettings) {
    ASSERT_NO_FATAL_FAILURE(startAll({.rate = 44100, .frames = 256, .inputs = 4, .outputs = 6}));
    ASSERT_EQ(devices().size(), 1u); // our own client is not a device
    const auto device = systemDevice();
    ASSERT_NE(device, hw::kNoObject);
    EXPECT_GE(device, hw::JackBackend::kFirstId);
    EXPECT_EQ(hardware->getAs<std::string>(device, Address{Selector::Name}), "system (JACK)");
    EXPECT_EQ(channels(device, Scope::Input), 4u);
    EXPECT_EQ(channels(device, Scope::Output), 6u);
    EXPECT_FALSE(hardware->has(device, Address{Selector::StreamConfiguration, Scope::Global}));

    // Only the server's own rate is accepted.
    const Address rate{Selector::NominalSampleRate};
    EXPECT_EQ(hardware->getAs<double>(device, rate), 44100.0);
    EXPECT_FALSE(hardware->set(device, rate, 48000.0));
    EXPECT_TRUE(hardware->set(device, rate, 44100.0));

    // The physical ports' latency holds one period of buffering already; the
    // device's own latency is what they add beyond it.
    JackProbeClient probe("probe", 0, 0);
    ASSERT_TRUE(probe.ok());
    jack_latency_range_t capture{}, playback{};
    jack_port_get_latency_range(jack_port_by_name(probe.client(), "system:capture_1"), JackCaptureLatency, &capture);
    jack_port_get_latency_range(jack_port_by_name(probe.client(), "system:playback_1"), JackPlaybackLatency,
                                &playback);
    ASSERT_NE(capture.max, playback.max) << "the dummy driver no longer tells the directions apart";
    EXPECT_EQ(hardware->getAs<std::uint32_t>(device, Address{Selector::Latency, Scope::Input}), capture.max - 256);
    EXPECT_EQ(hardware->getAs<std::uint32_t>(device, Address{Selector::Latency, Scope::Output}), playback.max - 256);

    // A buffer size write is applied by the server, as someone else's client sees.
    const Address size{Selector::BufferFrameSize};
    EXPECT_EQ(hardware->getAs<std::uint32_t>(device, size), 256u);
    ASSERT_TRUE(hardware->set(device, size, std::uint32_t{512}));
    EXPECT_EQ(hardware->getAs<std::uint32_t>(device, size), 512u);
    EXPECT_EQ(jack_get_buffer_size(probe.client()), 512u);
    auto range = hardware->getAs<std::vector<hw::ValueRange>>(device, Address{Selector::BufferFrameSizeRange});
    ASSERT_TRUE(range && !range->empty());
    EXPECT_LE(range->front().minimum, 256);
    EXPECT_GE(range->back().maximum, 1024);
}

TEST_F(JackDevices, ClientWithPhysicalPortsComesAndGoesAsADevice) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    auto listChanges = countCalls(hw::kSystemObject, Address{Selector::Devices});
    std::string uid;
    {
        // Physical JACK inputs are the card's playback side: the device's outputs.
        JackProbeClient card("card", 2, 3, /*physical=*/true);
        ASSERT_TRUE(card.ok());
        uid = "jack:" + card.name();
        ASSERT_TRUE(waitFor([&] { return deviceByUid(uid).has_value(); }));
        EXPECT_GE(listChanges->load(), 1);
        EXPECT_EQ(devices().size(), 2u);
        EXPECT_EQ(channels(*deviceByUid(uid), Scope::Input), 3u);
        EXPECT_EQ(channels(*deviceByUid(uid), Scope::Output), 2u);
    }
    ASSERT_TRUE(waitFor([&] { return !deviceByUid(uid).has_value(); }));
    EXPECT_NE(systemDevice(), hw::kNoObject);
}

} // namespace
} // namespace corvane::test
