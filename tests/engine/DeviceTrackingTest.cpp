#include "engine/SetupExchange.h"
#include "tests/support/EventLoop.h"
#include "tests/support/FakeBackend.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManagerRig.h"

#include <gtest/gtest.h>

using namespace corvane;
using namespace std::chrono_literals;
using hw::Selector;

namespace {

struct Tracking : ::testing::Test {
    test::FakeBackend* fake = nullptr;
    std::unique_ptr<test::ManagerRig> rig;

    void SetUp() override {
        auto backend = std::make_unique<test::FakeBackend>();
        fake = backend.get();
        std::vector<std::unique_ptr<hw::Backend>> list;
        list.push_back(std::move(backend));
        rig = std::make_unique<test::ManagerRig>(std::move(list));
    }
    AudioEngineManager& m() { return *rig->manager; }
};

} // namespace

TEST_F(Tracking, TheFirstDeviceIsPickedOnceEveryBackendHasLookedAndTheChoiceFollowsItsUid) {
    ASSERT_EQ(m().channels().size(), 8);
    EXPECT_TRUE(m().devices().isEmpty()); // creation does not enumerate
    fake->setSettled(false);
    const auto a = fake->addDevice("a", "Alpha", 2, 2);
    ASSERT_TRUE(rig->refresh());
    EXPECT_EQ(m().devices().size(), 1);
    EXPECT_FALSE(m().selectedDevice()) << "a backend still looking may list a device before it";
    fake->setSettled(true); // announced by the hardware: the manager looks again
    ASSERT_TRUE(test::runUntil(rig->clock, [&] { return m().selectedDevice().has_value(); }, 1s));
    EXPECT_EQ(m().selectedDevice()->id, a);
    EXPECT_EQ(m().supportedBufferRange(), (BufferRange{16, 4096}));

    // Reordering is not logged, a changed list is; the choice keeps its uid, not its place.
    const auto b = fake->addDevice("b", "Beta", 2, 2);
    ASSERT_TRUE(rig->refresh());
    test::LogCapture log;
    fake->setDeviceOrder({b, a});
    ASSERT_TRUE(rig->refresh());
    EXPECT_EQ(m().devices()[0].uid, "b");
    EXPECT_FALSE(log.contains("Device list changed"));
    fake->addDevice("c", "Gamma", 2, 2);
    ASSERT_TRUE(rig->refresh());
    EXPECT_TRUE(log.contains("Device list changed: 2 -> 3 devices"));
    EXPECT_EQ(m().selectedDevice()->uid, "a");
}

TEST_F(Tracking, AnUnpluggedDeviceIsReportedReselectedWhenItReturnsAndNoDeviceUnroutes) {
    fake->addDevice("a", "Alpha", 2, 2);
    fake->addDevice("b", "Beta", 2, 2);
    ASSERT_TRUE(rig->refresh());
    m().selectDevice(m().devices()[1]);
    rig->settle();
    m().setups().showNotes({"left over"});

    test::LogCapture log;
    fake->removeDevice(m().devices()[1].id);
    ASSERT_TRUE(rig->refresh());
    EXPECT_EQ(m().errorMessage(), QString("“Beta” was disconnected."));
    EXPECT_FALSE(m().selectedDevice() || m().supportedBufferRange());
    EXPECT_TRUE(log.contains("Selected device “Beta” (uid b) is missing from a device list of 1 - running: false"));

    // Back with a new id: found again by uid, both messages cleared.
    const auto back = fake->addDevice("b", "Beta", 2, 2);
    ASSERT_TRUE(rig->refresh());
    ASSERT_TRUE(m().selectedDevice());
    EXPECT_EQ(m().selectedDevice()->id, back);
    EXPECT_FALSE(m().errorMessage() || m().warningMessage());
    EXPECT_EQ(m().supportedBufferRange(), (BufferRange{16, 4096}));

    // Choosing none unroutes; the next refresh picks the first again.
    rig->route(0, 0, false, 1, false);
    m().selectDevice(std::nullopt);
    EXPECT_FALSE(rig->strip(0).inputChannel() || rig->strip(0).outputChannel() || m().supportedBufferRange());
    ASSERT_TRUE(rig->refresh());
    EXPECT_EQ(m().selectedDevice()->uid, "a");
}

TEST_F(Tracking, AChangedDeviceClampsTheStripsItCanNoLongerServe) {
    auto id = fake->addDevice("a", "Alpha", 8, 8);
    ASSERT_TRUE(rig->refresh());
    rig->route(0, 2, true, 0, false);  // inputs 2-3
    rig->route(1, 1, false, 6, true);  // input 1, outputs 6-7
    rig->route(2, 0, true, 1, false);  // inputs 0-1
    fake->setProperty(id, {Selector::StreamConfiguration, hw::Scope::Input}, hw::StreamConfiguration{{2}});
    fake->setProperty(id, {Selector::StreamConfiguration, hw::Scope::Output}, hw::StreamConfiguration{{7}});
    ASSERT_TRUE(rig->refresh());
    EXPECT_EQ(m().selectedDevice()->inputChannels, 2);
    EXPECT_EQ(rig->strip(0).inputChannel(), std::nullopt);
    EXPECT_EQ(rig->strip(0).outputChannel(), 0);
    EXPECT_EQ(rig->strip(1).inputChannel(), 1);
    EXPECT_EQ(rig->strip(1).outputChannel(), std::nullopt); // 6-7 needs 8 outputs
    EXPECT_EQ(rig->strip(2).inputChannel(), 0);
    EXPECT_FALSE(m().errorMessage());
}

TEST_F(Tracking, ManyRefreshRequestsDuringOneEnumerationCauseExactlyOneMore) {
    fake->addDevice("a", "Alpha", 2, 2);
    fake->closeGate();
    std::vector<Task> requests;
    requests.push_back(spawn(m().refreshDevices()));
    ASSERT_TRUE(test::waitFor([&] { return fake->deviceListQueries() == 1; }));
    for (int i = 0; i < 5; ++i)
        requests.push_back(spawn(m().refreshDevices()));
    fake->openGate();
    ASSERT_TRUE(test::runUntil(rig->clock, [&] {
        return std::all_of(requests.begin(), requests.end(), [](const Task& t) { return t.isDone(); });
    }));
    EXPECT_EQ(fake->deviceListQueries(), 2);
    EXPECT_TRUE(m().selectedDevice());
}

TEST_F(Tracking, BufferSizesAndRangesAreTheDevicesUntilTheUserChoosesAndStaleAnswersAreDropped) {
    ASSERT_TRUE(rig->start());
    EXPECT_EQ(m().errorMessage(), QString("Select an audio device.")); // nothing to start on yet

    const auto a = fake->addDevice("a", "Alpha", 2, 2);
    const auto b = fake->addDevice("b", "Beta", 2, 2);
    fake->setProperty(a, {Selector::BufferFrameSize}, std::uint32_t(1024));
    fake->setProperty(b, {Selector::BufferFrameSizeRange}, std::vector<hw::ValueRange>{{64, 1024}});
    ASSERT_TRUE(rig->refresh());
    m().selectDevice(m().devices()[1]);
    m().selectDevice(m().devices()[0]); // cancels the query for b
    rig->settle();
    EXPECT_EQ(m().supportedBufferRange(), (BufferRange{16, 4096}));
    EXPECT_EQ(m().bufferFrames(), 1024u);
    EXPECT_FALSE(m().bufferFramesChosen());

    // Another program changes the shared size: a start takes it as it is, and
    // the size in use is read back (the fake device has no I/O: each start
    // fails after applying its settings).
    QList<std::optional<std::uint32_t>> seen;
    QObject::connect(&m(), &AudioEngineManager::actualBufferFramesChanged, [&] { seen.append(m().actualBufferFrames()); });
    fake->setProperty(a, {Selector::BufferFrameSize}, std::uint32_t(512));
    ASSERT_TRUE(rig->start());
    EXPECT_EQ(fake->get(a, {Selector::BufferFrameSize}), hw::PropertyValue(std::uint32_t(512)));
    EXPECT_EQ(m().bufferFrames(), 512u);
    // Only a size the user chose is written.
    m().setBufferFrames(128);
    ASSERT_TRUE(rig->start());
    EXPECT_EQ(fake->get(a, {Selector::BufferFrameSize}), hw::PropertyValue(std::uint32_t(128)));
    fake->refuseWrites(a, Selector::BufferFrameSize, true);
    m().setBufferFrames(64);
    ASSERT_TRUE(rig->start());
    EXPECT_EQ(seen, (QList<std::optional<std::uint32_t>>{512u, std::nullopt, 128u, std::nullopt, 128u, std::nullopt}));

    fake->eraseProperty(a, {Selector::BufferFrameSizeRange});
    m().refreshSupportedBufferRange();
    rig->settle();
    EXPECT_EQ(m().supportedBufferRange(), std::nullopt);
}
