#include "devices/DeviceEnumeration.h"
#include "devices/DeviceSettings.h"
#include "tests/support/FakeBackend.h"

#include <gtest/gtest.h>

using namespace corvane;
using hw::Address;
using hw::Scope;
using hw::Selector;

namespace {
struct Rig {
    test::FakeBackend* fake;
    std::unique_ptr<hw::AudioHardware> hardware;
    Rig() {
        auto backend = std::make_unique<test::FakeBackend>();
        fake = backend.get();
        std::vector<std::unique_ptr<hw::Backend>> list;
        list.push_back(std::move(backend));
        hardware = std::make_unique<hw::AudioHardware>(std::move(list));
    }
};
} // namespace

TEST(DeviceEnumeration, ListsUsableDevicesInHardwareOrderAndSkipsTheRest) {
    Rig rig;
    auto outOnly = rig.fake->addDevice("out-only", "Headphones", 0, 2);
    auto none = rig.fake->addDevice("none", "Nothing", 0, 0);
    auto aggregate = rig.fake->addDevice("CADefaultDeviceAggregate-42", "Private", 2, 2);
    auto containsIt = rig.fake->addDevice("my-CADefaultDeviceAggregate", "Public", 2, 2);
    auto nameless = rig.fake->addDevice("nameless", "", 2, 2);
    auto noUid = rig.fake->addDevice("x", "No uid", 2, 2);
    rig.fake->eraseProperty(noUid, {Selector::Uid});
    auto multi = rig.fake->addDevice("multi", "Multi", 0, 0);
    rig.fake->setProperty(multi, {Selector::StreamConfiguration, Scope::Input}, hw::StreamConfiguration{{2, 6}});
    rig.fake->setDeviceOrder({multi, outOnly, none, aggregate, containsIt, nameless, noUid});

    const auto devices = listDevices(*rig.hardware);
    ASSERT_EQ(devices.size(), 3);
    EXPECT_EQ(devices[0], (AudioDevice{multi, "multi", "Multi", 8, 0}));
    EXPECT_EQ(devices[1], (AudioDevice{outOnly, "out-only", "Headphones", 0, 2}));
    EXPECT_EQ(devices[2].uid, "my-CADefaultDeviceAggregate");
    (void)none;
    (void)aggregate;
    (void)nameless;

    rig.fake->failDeviceList(true);
    EXPECT_TRUE(listDevices(*rig.hardware).isEmpty());
}

TEST(DeviceEnumeration, ChannelsLatencyAndBufferRangeDegradeWhereTheDeviceSaysNothingUsable) {
    Rig rig;
    auto id = rig.fake->addDevice("d", "D", 4, 6);
    EXPECT_EQ(channelCount(*rig.hardware, id, Scope::Input), 4);
    EXPECT_EQ(channelCount(*rig.hardware, id, Scope::Output), 6);
    rig.fake->eraseProperty(id, {Selector::StreamConfiguration, Scope::Output});
    EXPECT_EQ(channelCount(*rig.hardware, id, Scope::Output), 0);
    EXPECT_EQ(channelCount(*rig.hardware, 0xdead, Scope::Input), 0);

    // Latency: the device's, its safety offset and its first stream's.
    auto first = rig.fake->addStream(id, Scope::Input);
    auto second = rig.fake->addStream(id, Scope::Input);
    rig.fake->setProperty(id, {Selector::Latency, Scope::Input}, std::uint32_t(32));
    rig.fake->setProperty(id, {Selector::SafetyOffset, Scope::Input}, std::uint32_t(16));
    rig.fake->setProperty(first, {Selector::Latency}, std::uint32_t(8));
    rig.fake->setProperty(second, {Selector::Latency}, std::uint32_t(1000)); // only the first stream counts
    EXPECT_EQ(deviceLatencyFrames(*rig.hardware, id, Scope::Input), 56);
    rig.fake->eraseProperty(id, {Selector::SafetyOffset, Scope::Input});
    EXPECT_EQ(deviceLatencyFrames(*rig.hardware, id, Scope::Input), 40);
    // The output side has nothing at all.
    EXPECT_EQ(deviceLatencyFrames(*rig.hardware, id, Scope::Output), 0);
    // Values near the 32-bit limit add without overflow.
    rig.fake->setProperty(id, {Selector::Latency, Scope::Output}, std::uint32_t(0xFFFFFFFF));
    rig.fake->setProperty(id, {Selector::SafetyOffset, Scope::Output}, std::uint32_t(0xFFFFFFFF));
    EXPECT_EQ(deviceLatencyFrames(*rig.hardware, id, Scope::Output), 2 * std::int64_t(0xFFFFFFFF));

    // Buffer size ranges merge into one span, or none where they make no sense.
    const std::pair<std::vector<hw::ValueRange>, std::optional<BufferRange>> ranges[] = {
        {{{1024, 4096}, {32, 512}}, BufferRange{32, 4096}}, {{{15.9, 512.7}}, BufferRange{15, 512}},
        {{{0, 512}, {64, 128}}, std::nullopt},              {{{512, 64}}, std::nullopt},
        {{{64, 8.0e9}}, std::nullopt},                      {{}, std::nullopt}};
    for (const auto& [given, merged] : ranges) {
        rig.fake->setProperty(id, {Selector::BufferFrameSizeRange}, given);
        EXPECT_EQ(bufferFrameSizeRange(*rig.hardware, id), merged) << given.size();
    }
}

TEST(DeviceSettings, BufferSizeIsReadBackAndRateReportsAcceptance) {
    Rig rig;
    auto id = rig.fake->addDevice("d", "D", 2, 2);
    EXPECT_EQ(setBufferFrameSize(*rig.hardware, 128, id), 128u);
    rig.fake->refuseWrites(id, Selector::BufferFrameSize, true);
    EXPECT_EQ(setBufferFrameSize(*rig.hardware, 64, id), 128u); // refused write: the read-back decides
    rig.fake->eraseProperty(id, {Selector::BufferFrameSize});
    EXPECT_EQ(setBufferFrameSize(*rig.hardware, 64, id), std::nullopt);

    EXPECT_TRUE(setNominalSampleRate(*rig.hardware, 96000, id));
    EXPECT_EQ(nominalSampleRate(*rig.hardware, id), 96000.0);
    rig.fake->refuseWrites(id, Selector::NominalSampleRate, true);
    EXPECT_FALSE(setNominalSampleRate(*rig.hardware, 44100, id));
    EXPECT_FALSE(setNominalSampleRate(*rig.hardware, 44100, 0xdead));
}
