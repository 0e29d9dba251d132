// Duplex I/O through our client's ports, observed by another JACK client.
#include "tests/jack/JackHardwareFixture.h"
#include "tests/jack/JackProbeClient.h"
#include "tests/support/RealtimeChecker.h"

namespace corvane::test {
namespace {

using hw::Address;
using hw::Selector;

class JackIo : public JackHardwareFixture {
protected:
    std::string ours(const char* direction, std::size_t k) const {
        return jack->clientName() + ":" + direction + std::to_string(k);
    }
    bool start() {
        std::string error;
        const bool started = hardware->startIo(systemDevice(), callback, error);
        EXPECT_EQ(error.empty(), started) << error;
        return started;
    }
};

TEST_F(JackIo, CallbackOutputsReachOtherClientsAndTheirSignalsReachTheCallbackInRealTime) {
    ASSERT_NO_FATAL_FAILURE(startAll({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 3}));
    RealtimeChecker checker;
    ASSERT_TRUE(start());

    // Our ports are wired to the hardware one to one, in order.
    JackProbeClient probe("probe", 3, 2);
    ASSERT_TRUE(probe.ok());
    for (std::size_t k = 1; k <= 3; ++k) {
        EXPECT_TRUE(probe.connected(ours("out_", k), "system:playback_" + std::to_string(k)));
        ASSERT_TRUE(probe.connect(ours("out_", k), probe.inputName(k)));
    }
    for (std::size_t k = 1; k <= 2; ++k) {
        EXPECT_TRUE(probe.connected(ours("in_", k), "system:capture_" + std::to_string(k)));
        probe.play(k, -0.25f * static_cast<float>(k));
        ASSERT_TRUE(probe.connect(probe.outputName(k), ours("in_", k)));
    }
    EXPECT_FALSE(probe.portExists(ours("in_", 3)));

    EXPECT_TRUE(waitFor([&] {
        return probe.firstHeard(1) == ConstantIoCallback::valueFor(1) &&
               probe.lastHeard(1) == ConstantIoCallback::valueFor(1) &&
               probe.firstHeard(2) == ConstantIoCallback::valueFor(2) &&
               probe.lastHeard(3) == ConstantIoCallback::valueFor(3);
    })) << probe.firstHeard(1) << " " << probe.lastHeard(3);
    // The dummy driver captures silence, so our inputs hold just the probe's signal.
    EXPECT_TRUE(waitFor([&] { return callback.heard[0].load() == -0.25f && callback.heard[1].load() == -0.5f; }))
        << callback.heard[0].load() << " " << callback.heard[1].load();

    // The whole of our process callback, the session's part included, is real
    // time, and neither part allocates, waits or does I/O.
    EXPECT_TRUE(callback.realtime.load());
    EXPECT_EQ(checker.violations(), 0u) << checker.report();
}

TEST_F(JackIo, OneSessionPerDeviceOverloadedByAMissedDeadlineAndStopIoEndsItAndRemovesOurPorts) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    std::string error;
    EXPECT_FALSE(hardware->startIo(hw::JackBackend::kFirstId + 1000, callback, error));
    EXPECT_FALSE(error.empty());
    auto overloads = countCalls(systemDevice(), Address{Selector::Overload});
    ASSERT_TRUE(start());
    EXPECT_FALSE(start());
    ASSERT_TRUE(waitFor([&] { return callback.periods.load() > 2; }));
    callback.stall = true;
    ASSERT_TRUE(waitFor([&] { return overloads->load() > 0; }));
    EXPECT_GT(jack->xrunCount(), 0u);

    hardware->stopIo(systemDevice());
    const auto periodsAtStop = callback.periods.load();
    JackProbeClient probe("probe", 0, 0);
    ASSERT_TRUE(probe.ok());
    EXPECT_FALSE(probe.portExists(ours("in_", 1)));
    EXPECT_FALSE(probe.portExists(ours("out_", 1)));
    const auto probeStart = probe.periods();
    ASSERT_TRUE(waitFor([&] { return probe.periods() > probeStart + 4; }));
    EXPECT_EQ(callback.periods.load(), periodsAtStop);

    // Stopped I/O starts again on the same device.
    ASSERT_TRUE(start());
    EXPECT_TRUE(waitFor([&] { return callback.periods.load() > periodsAtStop; }));
}

TEST_F(JackIo, APeriodSizeChangeByAnyoneIsFollowedWithoutAReconfiguration) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    const auto device = systemDevice();
    auto changes = countCalls(device, Address{Selector::ConfigurationChange});
    auto sizes = countCalls(device, Address{Selector::BufferFrameSize});
    ASSERT_TRUE(start());

    ASSERT_TRUE(hardware->set(device, Address{Selector::BufferFrameSize}, std::uint32_t{128}));
    ASSERT_TRUE(waitFor([&] { return callback.lastFrames.load() == 128 && sizes->load() >= 1; }));
    JackProbeClient other("other", 0, 0);
    ASSERT_TRUE(other.ok());
    ASSERT_EQ(jack_set_buffer_size(other.client(), 1024), 0);
    ASSERT_TRUE(waitFor([&] { return callback.lastFrames.load() == 1024 && sizes->load() >= 2; }));
    drainEvents();
    EXPECT_EQ(changes->load(), 0);
    // The device's own latency follows: the ports now hold 1024 and 2048 frames.
    EXPECT_EQ(hardware->getAs<std::uint32_t>(device, Address{Selector::Latency, hw::Scope::Input}), 0u);
    EXPECT_EQ(hardware->getAs<std::uint32_t>(device, Address{Selector::Latency, hw::Scope::Output}), 1024u);
}

} // namespace
} // namespace corvane::test
