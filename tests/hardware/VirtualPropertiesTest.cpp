// The virtual device's properties: defaults, checked writes, injected faults,
// and devices that come, change and go.
#include "tests/hardware/VirtualRig.h"

#include <thread>

using namespace corvane::hw;
using namespace corvane::test;

namespace {

using VirtualProperties = VirtualRig;
const Address kName{Selector::Name};
const Address kRate{Selector::NominalSampleRate};
const Address kFrames{Selector::BufferFrameSize};

} // namespace

TEST_F(VirtualProperties, DefaultDeviceDescribesItself) {
    EXPECT_EQ(devices(), std::vector<ObjectId>{device});
    EXPECT_EQ(hardware->getAs<std::string>(device, kName), "Virtual Audio Device");
    EXPECT_EQ(hardware->getAs<std::string>(device, {Selector::Uid}), "virtual:default");
    for (Scope scope : {Scope::Input, Scope::Output}) {
        EXPECT_EQ(hardware->getAs<StreamConfiguration>(device, {Selector::StreamConfiguration, scope}),
                  StreamConfiguration{{8}});
        auto streams = hardware->getAs<std::vector<ObjectId>>(device, {Selector::Streams, scope});
        ASSERT_TRUE(streams && streams->size() == 1);
        EXPECT_EQ(hardware->getAs<std::uint32_t>(streams->front(), {Selector::Latency}), 0u);
        for (Selector term : {Selector::Latency, Selector::SafetyOffset})
            EXPECT_EQ(hardware->getAs<std::uint32_t>(device, {term, scope}), 0u);
    }
    EXPECT_EQ(hardware->getAs<std::vector<ValueRange>>(device, {Selector::BufferFrameSizeRange}),
              (std::vector<ValueRange>{{16, 4096}}));
    EXPECT_EQ(hardware->getAs<std::uint32_t>(device, kFrames), 256u);
    EXPECT_EQ(hardware->getAs<double>(device, kRate), 48000.0);
    // Listener-only and foreign addresses have no value.
    EXPECT_FALSE(hardware->has(device, {Selector::Overload}));
    EXPECT_FALSE(hardware->has(device, {Selector::Name, Scope::Input}));
    EXPECT_FALSE(hardware->has(device, {Selector::Name, Scope::Global, 1}));
}

TEST_F(VirtualProperties, WritesAreCheckedAndOnlyChangesAnnounced) {
    auto& framesChanged = listen(device, kFrames);
    auto& rateChanged = listen(device, kRate);
    const struct {
        Address address;
        PropertyValue value;
        bool accepted;
    } writes[] = {{kFrames, std::uint32_t{64}, true},  {kFrames, std::uint32_t{64}, true},
                  {kFrames, std::uint32_t{15}, false}, {kFrames, std::uint32_t{4097}, false},
                  {kFrames, 128.0, false},             {kRate, 44100.0, true},
                  {kRate, 192000.0, true},             {kRate, 22050.0, false},
                  {kRate, 384000.0, false},            {kName, std::string("renamed"), false},
                  {{Selector::Latency, Scope::Input}, std::uint32_t{5}, false}};
    for (const auto& write : writes)
        EXPECT_EQ(hardware->set(device, write.address, write.value), write.accepted) << write.value.index();
    EXPECT_EQ(hardware->getAs<std::uint32_t>(device, kFrames), 64u);
    EXPECT_EQ(hardware->getAs<double>(device, kRate), 192000.0);
    EXPECT_EQ(framesChanged, 1);
    EXPECT_EQ(rateChanged, 2);

    ASSERT_TRUE(virt->refuseSampleRate(kUid, 96000.0));
    EXPECT_FALSE(hardware->set(device, kRate, 96000.0));
    EXPECT_EQ(hardware->getAs<double>(device, kRate), 192000.0);
    ASSERT_TRUE(virt->refuseSampleRate(kUid, 96000.0, false));
    EXPECT_TRUE(hardware->set(device, kRate, 96000.0));

    // A device that has not settled reports its old rate while writes succeed.
    ASSERT_TRUE(virt->setReportedSampleRate(kUid, 44100.0));
    EXPECT_TRUE(hardware->set(device, kRate, 48000.0));
    EXPECT_EQ(hardware->getAs<double>(device, kRate), 44100.0);
    ASSERT_TRUE(virt->setReportedSampleRate(kUid, std::nullopt));
    EXPECT_EQ(hardware->getAs<double>(device, kRate), 48000.0);
    EXPECT_EQ(rateChanged, 6);
}

TEST_F(VirtualProperties, InjectedReadFailuresAndAbsentLatencies) {
    ASSERT_TRUE(virt->failPropertyRead(kUid, Selector::Name, Scope::Global, true));
    ASSERT_TRUE(virt->failPropertyRead(kUid, Selector::StreamConfiguration, Scope::Output, true));
    EXPECT_FALSE(hardware->get(device, kName));
    EXPECT_FALSE(hardware->has(device, kName));
    EXPECT_FALSE(hardware->has(device, {Selector::StreamConfiguration, Scope::Output}));
    EXPECT_TRUE(hardware->has(device, {Selector::StreamConfiguration, Scope::Input}));
    ASSERT_TRUE(virt->failPropertyRead(kUid, Selector::Name, Scope::Global, false));
    EXPECT_EQ(hardware->getAs<std::string>(device, kName), "Virtual Audio Device");

    ASSERT_TRUE(virt->setLatency(kUid, Scope::Input, 12, std::nullopt, 7));
    EXPECT_EQ(hardware->getAs<std::uint32_t>(device, {Selector::Latency, Scope::Input}), 12u);
    EXPECT_FALSE(hardware->has(device, {Selector::SafetyOffset, Scope::Input}));
    EXPECT_TRUE(hardware->has(device, {Selector::SafetyOffset, Scope::Output}));
    auto stream = hardware->getAs<std::vector<ObjectId>>(device, {Selector::Streams, Scope::Input})->front();
    EXPECT_EQ(hardware->getAs<std::uint32_t>(stream, {Selector::Latency}), 7u);
    ASSERT_TRUE(virt->setLatency(kUid, Scope::Input, std::nullopt, 3, std::nullopt));
    EXPECT_FALSE(hardware->has(device, {Selector::Latency, Scope::Input}));
    EXPECT_FALSE(hardware->has(stream, {Selector::Latency}));
    EXPECT_EQ(hardware->getAs<std::uint32_t>(device, {Selector::SafetyOffset, Scope::Input}), 3u);

    EXPECT_FALSE(virt->setLatency(kUid, Scope::Global, 1, 1, 1));
    EXPECT_FALSE(virt->failPropertyRead("virtual:nobody", Selector::Name, Scope::Global, true));
}

TEST_F(VirtualProperties, DevicesComeAndGoWithFreshIdsAndListeners) {
    auto& listChanged = listen(kSystemObject, {Selector::Devices});
    const ObjectId second = virt->addDevice({"virtual:second", "Second", 2, 0});
    ASSERT_NE(second, kNoObject);
    EXPECT_EQ(virt->addDevice({"virtual:second", "Again", 1, 1}), kNoObject);
    EXPECT_EQ(virt->addDevice({"", "No uid", 1, 1}), kNoObject);
    EXPECT_EQ(devices(), (std::vector<ObjectId>{device, second}));
    EXPECT_EQ(listChanged, 1);

    // A direction without channels has no stream and an empty layout.
    const Address outLayout{Selector::StreamConfiguration, Scope::Output};
    EXPECT_EQ(hardware->getAs<StreamConfiguration>(second, outLayout), StreamConfiguration{});
    EXPECT_EQ(hardware->getAs<std::vector<ObjectId>>(second, {Selector::Streams, Scope::Output}),
              std::vector<ObjectId>{});
    const auto inputStream = hardware->getAs<std::vector<ObjectId>>(second, {Selector::Streams, Scope::Input});

    auto& inputsChanged = listen(second, {Selector::StreamConfiguration, Scope::Input});
    auto& outputsChanged = listen(second, outLayout);
    ASSERT_TRUE(virt->changeDevice("virtual:second", {"ignored", "Renamed", 2, 4}));
    EXPECT_EQ(listChanged, 2);
    EXPECT_EQ(inputsChanged, 0);
    EXPECT_EQ(outputsChanged, 1);
    EXPECT_EQ(virt->deviceId("virtual:second"), second);
    EXPECT_EQ(hardware->getAs<std::string>(second, kName), "Renamed");
    EXPECT_EQ(hardware->getAs<std::vector<ObjectId>>(second, {Selector::Streams, Scope::Input}), inputStream);
    auto outputStream = hardware->getAs<std::vector<ObjectId>>(second, {Selector::Streams, Scope::Output});
    ASSERT_TRUE(outputStream && outputStream->size() == 1);
    EXPECT_GT(outputStream->front(), inputStream->front());
    ASSERT_TRUE(virt->changeDevice("virtual:second", {"", "Renamed", 2, 4}));
    EXPECT_EQ(listChanged, 2); // nothing changed, nothing announced

    ASSERT_TRUE(virt->removeDevice("virtual:second"));
    EXPECT_FALSE(virt->removeDevice("virtual:second"));
    EXPECT_EQ(listChanged, 3);
    EXPECT_EQ(devices(), std::vector<ObjectId>{device});
    // Everything about a vanished device fails quietly, streams included.
    EXPECT_FALSE(hardware->get(second, kName));
    EXPECT_FALSE(hardware->get(outputStream->front(), {Selector::Latency}));
    EXPECT_FALSE(hardware->set(second, kFrames, std::uint32_t{64}));
    // The same uid comes back as a new object.
    EXPECT_GT(virt->addDevice({"virtual:second", "Second", 2, 0}), outputStream->front());

    // A failing list query hides the devices, not the devices' own properties.
    virt->failDeviceList(true);
    EXPECT_TRUE(devices().empty());
    EXPECT_EQ(hardware->getAs<std::string>(device, kName), "Virtual Audio Device");
    virt->failDeviceList(false);
    EXPECT_EQ(devices().size(), 2u);
    EXPECT_EQ(listChanged, 6);
}

TEST_F(VirtualProperties, ARemovedListenerNeverRunsAgainNotEvenForADispatchUnderWay) {
    // A dispatch on another thread has picked up both listeners and is held in
    // the first while the second is removed.
    std::atomic<bool> inFirst{false};
    std::atomic<bool> letGo{false};
    std::atomic<int> secondCalls{0};
    hardware->addListener(device, kRate, [&] {
        inFirst = true;
        while (!letGo)
            std::this_thread::yield();
    });
    const auto second = hardware->addListener(device, kRate, [&] { ++secondCalls; });
    std::thread dispatcher([&] { hardware->set(device, kRate, 44100.0); });
    while (!inFirst)
        std::this_thread::yield();
    EXPECT_TRUE(hardware->removeListener(device, kRate, second));
    letGo = true;
    dispatcher.join();
    EXPECT_EQ(secondCalls, 0);
}
