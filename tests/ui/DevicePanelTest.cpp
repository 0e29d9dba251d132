// The device panel's rules over a manager on the virtual device: which entry
// each picker marks, what choosing one writes, which sizes the device refuses,
// and when the device's own rate is worth a warning.
#include "ui/DevicePanel.h"
#include "tests/engine/VirtualRig.h"
#include "tests/support/ManagerPeer.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace corvane;
using namespace corvane::test;

namespace {

struct DevicePanelTest : ::testing::Test {
    VirtualRig rig;
    AudioEngineManager& m = *rig.manager;
    DevicePanel panel;
    void SetUp() override {
        rig.settle();
        panel.setManager(&m);
    }
};

} // namespace

TEST_F(DevicePanelTest, DevicesFollowNoneAndAreChosenByTheirPlace) {
    EXPECT_EQ(panel.deviceLabels(), QStringList({"—", "Virtual Audio Device (8 in / 8 out)"}));
    EXPECT_EQ(panel.deviceIndex(), 1);
    panel.chooseDevice(0);
    EXPECT_FALSE(m.hasSelectedDevice());
    EXPECT_EQ(panel.deviceIndex(), 0);
    panel.chooseDevice(2); // past the end: nothing
    EXPECT_FALSE(m.hasSelectedDevice());
    panel.chooseDevice(1);
    ASSERT_TRUE(m.hasSelectedDevice());
    EXPECT_EQ(m.selectedDevice()->name, QString("Virtual Audio Device"));
    EXPECT_EQ(panel.deviceIndex(), 1);
}

TEST_F(DevicePanelTest, RatesOnOfferAndTheDevicesOwnRateWarningsFromAHertzOff) {
    EXPECT_EQ(panel.rateLabels(), QStringList({"44100 Hz", "48000 Hz", "88200 Hz", "96000 Hz", "176400 Hz", "192000 Hz"}));
    QSignalSpy changed(&panel, &DevicePanel::changed);
    panel.chooseRate(3);
    EXPECT_EQ(m.sampleRate(), 96000.0);
    EXPECT_EQ(panel.rateIndex(), 3);
    EXPECT_FALSE(changed.isEmpty());
    m.setSampleRate(48000.7); // not on offer: no entry, the rate truncated
    EXPECT_EQ(panel.rateIndex(), -1);
    EXPECT_EQ(panel.rateText(), QString("48000 Hz"));

    m.setSampleRate(48000);
    EXPECT_FALSE(panel.rateMismatch()) << "no rate from the device yet";
    ManagerPeer::actualRate(m, 47999.5);
    EXPECT_FALSE(panel.rateMismatch());
    ManagerPeer::actualRate(m, 47999.0);
    EXPECT_TRUE(panel.rateMismatch());
}

TEST_F(DevicePanelTest, BufferSizesOutsideWhatTheDeviceTakesCannotBeChosen) {
    EXPECT_EQ(panel.bufferSizes(), QList<int>({32, 64, 128, 256, 512}));
    ManagerPeer::supportedRange(m, std::nullopt);
    EXPECT_EQ(panel.bufferAllowed(), QList<bool>({true, true, true, true, true}));
    ManagerPeer::supportedRange(m, BufferRange{64, 256});
    EXPECT_EQ(panel.bufferAllowed(), QList<bool>({false, true, true, true, false}));
    panel.chooseBuffer(2);
    EXPECT_EQ(m.bufferFrames(), 128u);
    EXPECT_EQ(panel.bufferIndex(), 2);
    panel.chooseBuffer(4);
    panel.chooseBuffer(0);
    EXPECT_EQ(m.bufferFrames(), 128u);
    EXPECT_EQ(panel.bufferText(), QString("128 samples"));
}
