// Start and stop on the virtual device: messages, warnings, failure exits,
// dropouts, recovery and strips edited while playing, all on the manual clock.
#include "tests/engine/VirtualRig.h"
#include "tests/support/EventLoop.h"
#include "tests/support/FakeBackend.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManagerPeer.h"

#include <QLocale>
#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <vector>

using namespace corvane;
using namespace std::chrono_literals;
using test::kVirtual;

namespace {

struct Lifecycle : ::testing::Test {
    test::VirtualRig rig;
    AudioEngineManager& m = *rig.manager;

    static void SetUpTestSuite() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void SetUp() override { rig.route(0, 0, false, 0, false); }
    bool startRunning() { return rig.start() && m.isRunning(); }
    // Lets `span` of simulated time pass with everything it triggers.
    void pass(Clock::Duration span) { test::runFor(rig.clock, span); }
};

} // namespace

TEST_F(Lifecycle, StartWithNothingRoutableStopsWithTheNoChannelMessage) {
    rig.route(0, 0, false, std::nullopt, false);
    rig.route(1, 7, true, 0, false); // needs input 9
    ASSERT_TRUE(rig.start());
    EXPECT_FALSE(m.isRunning());
    EXPECT_EQ(m.errorMessage(),
              QString("No channel has both an input and an output channel selected (within what the device offers)."));
}

TEST_F(Lifecycle, ADeviceWithoutInputsReportsAnInvalidFormat) {
    rig.device->addDevice({"virtual:outs", "Outputs Only", 0, 2});
    ASSERT_TRUE(rig.refresh());
    m.selectDevice(m.devices()[1]);
    ASSERT_TRUE(rig.start());
    EXPECT_FALSE(m.isRunning());
    EXPECT_EQ(m.errorMessage(), QString("The selected device reports an invalid format (0 channels). Try a different "
                                        "device or sample rate."));
}

TEST_F(Lifecycle, TheGraphRunsAtTheDevicesRateWithAWarningFromOneHertzOff) {
    rig.device->setReportedSampleRate(kVirtual, 44100.0);
    ASSERT_TRUE(startRunning());
    EXPECT_EQ(m.actualSampleRate(), 44100.0);
    EXPECT_EQ(m.warningMessage(), QString("The device stayed at 44,100 Hz instead of the requested 48,000 Hz - the "
                                          "routing runs at the device's rate."));

    rig.device->setReportedSampleRate(kVirtual, 47999.5);
    ASSERT_TRUE(startRunning());
    EXPECT_EQ(m.warningMessage(), std::nullopt);

    rig.device->setReportedSampleRate(kVirtual, std::nullopt);
    rig.device->refuseSampleRate(kVirtual, 96000.0);
    m.setSampleRate(96000.0);
    ASSERT_TRUE(startRunning());
    EXPECT_EQ(m.actualSampleRate(), 48000.0);
    EXPECT_EQ(m.warningMessage(), QString("The device doesn't support 96,000 Hz and runs at 48,000 Hz instead."));
}

TEST_F(Lifecycle, AFreshEngineStartsAtOnceAndARateNeverReportedDelaysItOneSecondOnly) {
    test::LogCapture log;
    auto began = rig.clock.now();
    ASSERT_TRUE(startRunning());
    EXPECT_EQ(rig.clock.now(), began) << "a fresh engine has nothing to move onto the device";
    EXPECT_FALSE(log.contains("Moved the engine"));
    rig.device->setReportedSampleRate(kVirtual, 44100.0);
    began = rig.clock.now();
    ASSERT_TRUE(startRunning());
    EXPECT_EQ(rig.clock.now() - began, 1s);
}

TEST_F(Lifecycle, AStartWaitingForTheDeviceFollowsAStopAnotherChoiceAndALostDevice) {
    rig.device->addDevice({"virtual:second", "Second Device", 2, 2});
    ASSERT_TRUE(rig.refresh());
    // Neither device ever reports the rate asked for, so each start waits a
    // second for it to settle: the moment for the world to change.
    rig.device->setReportedSampleRate(kVirtual, 44100.0);
    rig.device->setReportedSampleRate("virtual:second", 44100.0);
    auto startAndThen = [&](const std::function<void()>& meanwhile) {
        Task start = spawn(m.start(false));
        pass(200ms);
        ASSERT_FALSE(start.isDone());
        meanwhile();
        ASSERT_TRUE(test::runUntil(rig.clock, [&] { return start.isDone(); }, 10s));
    };

    ASSERT_NO_FATAL_FAILURE(startAndThen([&] { m.stop(); }));
    EXPECT_FALSE(m.isRunning());
    EXPECT_FALSE(m.errorMessage());

    test::LogCapture log;
    ASSERT_NO_FATAL_FAILURE(startAndThen([&] { m.selectDevice(m.devices()[1]); }));
    ASSERT_TRUE(m.isRunning());
    EXPECT_EQ(m.engine().device(), m.devices()[1].id);
    EXPECT_EQ(log.count("Engine started on"), 1);
    EXPECT_TRUE(log.contains("Engine started on “Second Device”"));
    m.stop();

    ASSERT_NO_FATAL_FAILURE(startAndThen([&] {
        rig.device->removeDevice("virtual:second");
        ASSERT_TRUE(rig.refresh());
    }));
    EXPECT_FALSE(m.isRunning());
    EXPECT_EQ(m.errorMessage(), QString("“Second Device” was disconnected."));
}

TEST_F(Lifecycle, StartWhileRunningRebuildsOnANewEngineAndStopIsSafeWhenIdle) {
    m.stop(); // nothing runs: only resets state
    EXPECT_FALSE(m.isRunning());
    ASSERT_TRUE(startRunning());
    const auto* first = &m.engine();
    ASSERT_TRUE(startRunning());
    EXPECT_NE(&m.engine(), first);
    EXPECT_EQ(test::ManagerPeer::splitters(m).size(), 1);
    m.stop();
    EXPECT_FALSE(m.isRunning() || m.actualSampleRate() || m.actualBufferFrames() || m.latencyEstimate());
    EXPECT_TRUE(test::ManagerPeer::splitters(m).isEmpty());
    EXPECT_FALSE(test::ManagerPeer::combiner(m));
}

TEST_F(Lifecycle, AStripEditedWhilePlayingIsPendingUntilEditedBackOrTheNextStart) {
    ChannelSlot& strip = rig.strip(0);
    strip.setInputChannel(1);
    EXPECT_FALSE(strip.pendingUntilStart()) << "nothing plays to differ from";
    ASSERT_TRUE(startRunning());
    EXPECT_FALSE(strip.pendingUntilStart());
    m.setBypass(strip, true); // reaches the graph at once
    EXPECT_FALSE(strip.pendingUntilStart());
    const PluginComponent gain{"urn:corvane:test:gain", "Fixture Gain", {}, false};
    const std::vector<std::pair<std::function<void()>, std::function<void()>>> edits{
        {[&] { strip.setInputChannel(2); }, [&] { strip.setInputChannel(1); }},
        {[&] { strip.setOutputChannel(std::nullopt); }, [&] { strip.setOutputChannel(0); }},
        {[&] { strip.setInputStereo(true); }, [&] { strip.setInputStereo(false); }},
        {[&] { strip.setOutputStereo(true); }, [&] { strip.setOutputStereo(false); }},
        {[&] { strip.setComponent(gain); }, [&] { strip.setComponent(std::nullopt); }}};
    for (std::size_t i = 0; i < edits.size(); ++i) {
        edits[i].first();
        EXPECT_TRUE(strip.pendingUntilStart()) << i;
        edits[i].second();
        EXPECT_FALSE(strip.pendingUntilStart()) << i << ": edited back to what plays";
    }
    rig.route(1, 1, false, 1, false); // a strip the running graph left out
    EXPECT_TRUE(rig.strip(1).pendingUntilStart());
    ASSERT_TRUE(startRunning());
    EXPECT_FALSE(rig.strip(1).pendingUntilStart()) << "the new graph plays it";
    strip.setInputStereo(true);
    m.stop();
    EXPECT_FALSE(strip.pendingUntilStart()) << "nothing plays";
}

TEST(LifecycleFailure, ADeviceThatRefusesIOFailsTheStartWithTheEnginesReason) {
    auto fake = std::make_unique<test::FakeBackend>();
    fake->addDevice("fake", "No I/O", 2, 2);
    std::vector<std::unique_ptr<hw::Backend>> list;
    list.push_back(std::move(fake));
    test::ManagerRig rig(std::move(list));
    ASSERT_TRUE(rig.refresh());
    rig.route(0, 0, false, 1, false);
    ASSERT_TRUE(rig.start());
    EXPECT_FALSE(rig.manager->isRunning());
    EXPECT_EQ(rig.manager->errorMessage(),
              QString("Failed to start engine: Starting audio graph (engine.start) failed: The test device has no I/O."));
    EXPECT_FALSE(rig.manager->dropouts().isWatching());
}

TEST_F(Lifecycle, ADropoutIsCountedAndNamesTheSlowestStrip) {
    ASSERT_TRUE(startRunning());
    test::LogCapture log;
    rig.render(2);
    rig.device->forceOverload(kVirtual);
    ASSERT_TRUE(test::waitFor([&] { return m.audioDropoutCount() == 1; }));
    EXPECT_TRUE(log.contains("Dropout 1: the slowest strip was channel 1, ")) << log.messages().join('\n').toStdString();
    m.stop();
    EXPECT_EQ(m.audioDropoutCount(), 1);
    EXPECT_FALSE(m.dropouts().isWatching());
}

TEST_F(Lifecycle, AReconfiguredDeviceIsRestartedOnAndAUsersStartForgetsTheAttempts) {
    ASSERT_TRUE(startRunning());
    test::LogCapture log;
    rig.device->forceReconfiguration(kVirtual);
    ASSERT_TRUE(test::runUntil(rig.clock, [&] { return !m.isRunning(); }, 1ms));
    EXPECT_TRUE(m.isRecovering());
    ASSERT_TRUE(test::runUntil(rig.clock, [&] { return m.isRunning(); }, 600ms));
    EXPECT_FALSE(m.warningMessage() || m.isRecovering());
    EXPECT_TRUE(log.contains("Recovery attempt 1 succeeded"));
    // A stop during the delay ends the recovery.
    rig.device->forceReconfiguration(kVirtual);
    ASSERT_TRUE(test::runUntil(rig.clock, [&] { return !m.isRunning(); }, 1ms));
    m.stop();
    pass(5s);
    EXPECT_FALSE(m.isRunning() || m.isRecovering());
    ASSERT_TRUE(startRunning());
    EXPECT_TRUE(test::ManagerPeer::recovery(m).throttle().attempts.isEmpty());
}

TEST_F(Lifecycle, AVanishedDeviceStopsPlaybackWithTheDisconnectionMessage) {
    rig.device->addDevice({"virtual:second", "Second Device", 2, 2});
    ASSERT_TRUE(rig.refresh());
    m.selectDevice(m.devices()[1]);
    rig.route(0, 0, false, 0, false);
    ASSERT_TRUE(startRunning());
    test::LogCapture log;
    rig.device->removeDevice("virtual:second");
    ASSERT_TRUE(test::runUntil(rig.clock, [&] { return !m.isRunning(); }, 10ms));
    pass(3s);
    EXPECT_EQ(m.errorMessage(), QString("“Second Device” was disconnected - playback was stopped."));
    EXPECT_FALSE(m.warningMessage());
    EXPECT_FALSE(m.selectedDevice());
    EXPECT_FALSE(log.contains("Recovery attempt"));
}

TEST_F(Lifecycle, ChoosingADeviceWhileRunningRestartsOnItInOrder) {
    rig.device->addDevice({"virtual:second", "Second Device", 2, 2});
    ASSERT_TRUE(rig.refresh());
    ASSERT_TRUE(startRunning());
    test::LogCapture log;
    m.selectDevice(m.devices()[1]);
    m.selectDevice(m.devices()[0]);
    ASSERT_TRUE(test::runUntil(rig.clock, [&] { return test::ManagerPeer::deviceSwitchTask(m).isDone(); }, 10s));
    EXPECT_TRUE(m.isRunning());
    EXPECT_EQ(log.count("Engine started on"), 2);
    // Each restart runs on the device chosen by then: the last choice.
    for (const auto& line : log.messages().filter("Engine started on"))
        EXPECT_TRUE(line.contains("Virtual Audio Device")) << line.toStdString();
}

TEST_F(Lifecycle, AConfigurationChangeWhileStoppedDoesNothing) {
    test::LogCapture log;
    rig.device->forceReconfiguration(kVirtual);
    pass(3s);
    EXPECT_FALSE(m.isRunning() || m.errorMessage() || m.warningMessage());
    EXPECT_FALSE(log.contains("configuration change"));
}
