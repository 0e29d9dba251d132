// Recovering from a reconfigured device, against a host that records what it
// is asked and answers as each case needs, on the manual clock.
#include "engine/ConfigurationRecovery.h"
#include "tests/support/ManualTime.h"

#include <gtest/gtest.h>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

const AudioDevice kDevice{7, "uid:interface", "Interface", 2, 2};
const QString kRestarting = "warning: The audio device reconfigured itself - restarting playback…";

struct RecordingHost : ConfigurationRecovery::Host {
    explicit RecordingHost(ManualClock& c) : clock(c) {}
    ManualClock& clock;
    ConfigurationRecovery* recovery = nullptr;
    QStringList calls;
    bool listHangs = false;
    QList<AudioDevice> listed{kDevice};
    std::optional<AudioDevice> found = kDevice;

    void stopPlayback() override {
        calls << "stop";
        recovery->abandon();
    }
    Async<std::optional<QList<AudioDevice>>> listDevicesWithin(Clock::Duration limit) override {
        if (!listHangs)
            co_return listed;
        co_await sleepFor(clock, limit);
        co_return std::nullopt;
    }
    void takeDeviceList(const QList<AudioDevice>&) override { calls << "list taken"; }
    Async<std::optional<AudioDevice>> rediscover(QString) override { co_return found; }
    Async<bool> restartOn(AudioDevice device) override {
        calls << "restart on " + device.name;
        co_return true;
    }
    void showError(const QString& message) override { calls << "error: " + message; }
    void showWarning(const QString& message) override { calls << "warning: " + message; }
};

struct Recovery : ::testing::Test {
    ManualClock clock;
    RecordingHost host{clock};
    ConfigurationRecovery recovery{host, clock};
    void SetUp() override { host.recovery = &recovery; }
    void pass(Clock::Duration span) { test::runFor(clock, span); }
};

} // namespace

TEST_F(Recovery, RestartsAfterAGrowingDelayThreeTimesAMinuteThenLeavesPlaybackStopped) {
    for (int attempt = 1; attempt <= 3; ++attempt) {
        host.calls.clear();
        recovery.configurationChanged(kDevice.uid);
        EXPECT_TRUE(recovery.isRecovering());
        const auto delay = attempt * 500ms;
        pass(delay - 1ms);
        EXPECT_EQ(host.calls, QStringList({"stop", kRestarting})) << "attempt " << attempt;
        pass(1ms);
        EXPECT_EQ(host.calls.last(), QString("restart on Interface"));
        EXPECT_FALSE(recovery.isRecovering());
        pass(10s - delay);
    }
    host.calls.clear();
    recovery.configurationChanged(kDevice.uid);
    pass(5s);
    EXPECT_EQ(host.calls, QStringList({"stop", "error: The audio device kept reconfiguring itself, so playback was "
                                               "left stopped. Press Start to try again."}));
    EXPECT_FALSE(recovery.isRecovering());

    recovery.forgetAttempts();
    EXPECT_TRUE(recovery.throttle().attempts.isEmpty());
}

TEST_F(Recovery, AStopAGoneDeviceOrNoDeviceEndItWithoutARestartWhileASilentListStillRestarts) {
    recovery.configurationChanged(kDevice.uid);
    pass(200ms);
    host.stopPlayback();
    EXPECT_FALSE(recovery.isRecovering());

    // Missing from the list: its disconnection is handled as any.
    host.listed.clear();
    recovery.configurationChanged(kDevice.uid);
    EXPECT_EQ(recovery.interruptedDeviceUID(), kDevice.uid);
    EXPECT_TRUE(host.calls.contains("list taken"));
    EXPECT_FALSE(recovery.isRecovering());

    // Gone by the time of the restart.
    host.listed = {kDevice};
    host.found.reset();
    recovery.configurationChanged(kDevice.uid);
    pass(5s);
    EXPECT_FALSE(recovery.isRecovering());
    EXPECT_FALSE(host.calls.contains("restart on Interface"));

    // A list that does not come in time is no reason to give the device up.
    recovery.forgetAttempts();
    host.found = kDevice;
    host.listHangs = true;
    recovery.configurationChanged(kDevice.uid);
    pass(2s);
    EXPECT_EQ(host.calls.last(), kRestarting);
    pass(500ms);
    EXPECT_EQ(host.calls.last(), QString("restart on Interface"));

    host.calls.clear();
    recovery.configurationChanged(std::nullopt);
    EXPECT_EQ(host.calls, QStringList({"stop", "error: The audio device's configuration changed - playback was "
                                               "stopped. Press Start to rebuild the routing."}));
    EXPECT_FALSE(recovery.isRecovering());
}
