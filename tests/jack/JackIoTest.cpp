// Duplex I/O through our client's ports, observed by another JACK client.
#include "tests/jack/JackHardwareFixture.h"
#include "tests/jack/JackProbeClient.h"

namespace corvane::test {
namespace {

using hw::Address;
using hw::Selector;

class JackIo : public JackHardwareFixture {
protected:
    std::string ours(const std::string& port) const { return jack->clientName() + ":" + port; }
};

TEST_F(JackIo, CallbackOutputsReachOtherClientsAndTheirSignalsReachTheCallback) {
    ASSERT_NO_FATAL_FAILURE(startAll({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 3}));
    const auto device = systemDevice();
    ConstantIoCallback callback;
    std::string error;
    ASSERT_TRUE(hardware->startIo(device, callback, error)) << error;

    // Our ports are wired to the hardware one to one, in order.
    JackProbeClient probe("probe", 3, 2);
    ASSERT_TRUE(probe.ok());
    for (int k = 1; k <= 2; ++k)
        EXPECT_TRUE(probe.connected(ours("in_" + std::to_string(k)), "system:capture_" + std::to_string(k)));
    for (int k = 1; k <= 3; ++k)
        EXPECT_TRUE(probe.connected(ours("out_" + std::to_string(k)), "system:playback_" + std::to_string(k)));
    EXPECT_FALSE(probe.portExists(ours("in_3")));

    for (std::size_t k = 1; k <= 3; ++k)
        ASSERT_TRUE(probe.connect(ours("out_" + std::to_string(k)), probe.inputName(k)));
    for (std::size_t k = 1; k <= 2; ++k) {
        probe.play(k, -0.25f * static_cast<float>(k));
        ASSERT_TRUE(probe.connect(probe.outputName(k), ours("in_" + std::to_string(k))));
    }

    EXPECT_TRUE(waitFor([&] {
        return probe.firstHeard(1) == ConstantIoCallback::valueFor(1) &&
               probe.lastHeard(1) == ConstantIoCallback::valueFor(1) &&
               probe.firstHeard(2) == ConstantIoCallback::valueFor(2) &&
               probe.lastHeard(3) == ConstantIoCallback::valueFor(3);
    })) << probe.firstHeard(1) << " " << probe.lastHeard(3);
    // The dummy driver captures silence, so our inputs hold just the probe's signal.
    EXPECT_TRUE(waitFor([&] { return callback.heard[0].load() == -0.25f && callback.heard[1].load() == -0.5f; }))
        << callback.heard[0].load() << " " << callback.heard[1].load();
    hardware->stopIo(device);
}

TEST_F(JackIo, StopIoEndsTheCallbackAndRemovesOurPorts) {
    ASSERT_NO_FATAL_FAILURE(startAll({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 2}));
    const auto device = systemDevice();
    ConstantIoCallback callback;
    std::string error;
    ASSERT_TRUE(hardware->startIo(device, callback, error)) << error;
    EXPECT_FALSE(hardware->startIo(device, callback, error)); // one session per device
    EXPECT_FALSE(error.empty());
    ASSERT_TRUE(waitFor([&] { return callback.periods.load() > 2; }));

    hardware->stopIo(device);
    const auto periodsAtStop = callback.periods.load();
    JackProbeClient probe("probe", 0, 0);
    ASSERT_TRUE(probe.ok());
    EXPECT_FALSE(probe.portExists(ours("in_1")));
    EXPECT_FALSE(probe.portExists(ours("out_1")));
    const auto probeStart = probe.periods();
    ASSERT_TRUE(waitFor([&] { return probe.periods() > probeStart + 4; }));
    EXPECT_EQ(callback.periods.load(), periodsAtStop);

    // Stopped I/O starts again on the same device.
    ASSERT_TRUE(hardware->startIo(device, callback, error)) << error;
    EXPECT_TRUE(waitFor([&] { return callback.periods.load() > periodsAtStop; }));
    hardware->stopIo(device);
}

TEST_F(JackIo, StartIoOnAnUnknownDeviceFailsWithAReason) {
    ASSERT_NO_FATAL_FAILURE(startAll({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 2}));
    ConstantIoCallback callback;
    std::string error;
    EXPECT_FALSE(hardware->startIo(hw::JackBackend::kFirstId + 1000, callback, error));
    EXPECT_FALSE(error.empty());
}

TEST_F(JackIo, PeriodSizeChangedBySomeoneElseIsAConfigurationChangeAndNeverOversizesTheCallback) {
    ASSERT_NO_FATAL_FAILURE(startAll({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 2}));
    const auto device = systemDevice();
    auto changes = countCalls(device, Address{Selector::ConfigurationChange});
    ConstantIoCallback callback;
    std::string error;
    ASSERT_TRUE(hardware->startIo(device, callback, error)) << error;

    // Our own change is not news to us.
    ASSERT_TRUE(hardware->set(device, Address{Selector::BufferFrameSize}, std::uint32_t{128}));
    const auto periodsBefore = callback.periods.load();
    ASSERT_TRUE(waitFor([&] { return callback.periods.load() > periodsBefore + 4; }));
    drainEvents();
    EXPECT_EQ(changes->load(), 0);

    JackProbeClient other("other", 0, 0);
    ASSERT_TRUE(other.ok());
    ASSERT_EQ(jack_set_buffer_size(other.client(), 1024), 0);
    ASSERT_TRUE(waitFor([&] { return changes->load() > 0; }));
    EXPECT_EQ(changes->load(), 1);

    const auto periods = callback.periods.load();
    ASSERT_TRUE(waitFor([&] { return callback.periods.load() > periods + 8; }));
    EXPECT_LE(callback.largestFrames.load(), 256u);
    hardware->stopIo(device);
}

// Misses its deadline once, on request, by holding the process thread.
class StallingIoCallback : public ConstantIoCallback {
public:
    void process(const float* const* inputs, std::uint32_t inputCount, float* const* outputs,
                 std::uint32_t outputCount, std::uint32_t frames) noexcept override {
        if (stall.exchange(false)) {
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(40);
            while (std::chrono::steady_clock::now() < until) {
            }
        }
        ConstantIoCallback::process(inputs, inputCount, outputs, outputCount, frames);
    }
    std::atomic<bool> stall{false};
};

TEST_F(JackIo, MissedDeadlineIsAnOverloadOfTheRunningDevice) {
    ASSERT_NO_FATAL_FAILURE(startAll({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 2}));
    const auto device = systemDevice();
    auto overloads = countCalls(device, Address{Selector::Overload});
    StallingIoCallback callback;
    std::string error;
    ASSERT_TRUE(hardware->startIo(device, callback, error)) << error;
    ASSERT_TRUE(waitFor([&] { return callback.periods.load() > 2; }));

    callback.stall = true;
    ASSERT_TRUE(waitFor([&] { return overloads->load() > 0; }));
    EXPECT_GT(jack->xrunCount(), 0u);
    hardware->stopIo(device);
}

} // namespace
} // namespace corvane::test
