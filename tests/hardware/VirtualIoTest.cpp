// Starting and stopping I/O on the virtual device, on both clocks, the
// overloads a paced device reports, and the MIDI its periods hand over.
#include "platform/hardware/alsa/SequencerInput.h"
#include "tests/hardware/VirtualRig.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LogCapture.h"
#include "tests/support/RealtimeChecker.h"

#include <array>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

using namespace corvane;
using namespace corvane::hw;
using namespace corvane::test;
using namespace std::chrono_literals;

using VirtualIo = VirtualRig;

TEST_F(VirtualIo, ManualPeriodsRunOnlyWhileStartedAndRemovingADeviceStopsItsCallback) {
    virt->setClockMode(kUid, VirtualBackend::ClockMode::Manual);
    EXPECT_FALSE(virt->runPeriods(kUid, 1));
    const ObjectId extra = virt->addDevice({"virtual:extra", "Extra", 1, 1});
    IoProbe extraProbe;
    ASSERT_TRUE(start(extraProbe, extra)); // paced
    ASSERT_TRUE(start(probe));
    IoProbe other;
    std::string error;
    EXPECT_FALSE(hardware->startIo(device, other, error));
    EXPECT_FALSE(error.empty());

    ASSERT_TRUE(virt->runPeriods(kUid, 5));
    EXPECT_EQ(probe.calls, 5u);
    EXPECT_EQ(virt->framesProcessed(kUid), 5u * 256);

    hardware->stopIo(device);
    hardware->stopIo(device);
    EXPECT_FALSE(virt->runPeriods(kUid, 1));
    EXPECT_EQ(probe.calls, 5u);
    EXPECT_EQ(virt->framesProcessed(kUid), 5u * 256); // kept after the stop
    EXPECT_FALSE(virt->runPeriods("virtual:nobody", 1));
    ASSERT_TRUE(start(probe));
    EXPECT_EQ(virt->framesProcessed(kUid), 0u);

    ASSERT_TRUE(waitFor([&] { return extraProbe.calls > 0; }));
    ASSERT_TRUE(virt->removeDevice("virtual:extra"));
    const auto callsAtRemoval = extraProbe.calls.load();
    EXPECT_FALSE(hardware->startIo(extra, extraProbe, error));
    ASSERT_TRUE(virt->removeDevice(kUid));
    EXPECT_FALSE(virt->runPeriods(kUid, 1));
    EXPECT_EQ(probe.calls, 5u);
    EXPECT_FALSE(waitFor([&] { return extraProbe.calls != callsAtRemoval; }, 50ms));
}

TEST_F(VirtualIo, ReconfigurationWhileRunningIsAnnouncedAndTakesEffectAtTheNextStart) {
    virt->setClockMode(kUid, VirtualBackend::ClockMode::Manual);
    auto& reconfigured = listen(device, {Selector::ConfigurationChange});
    ASSERT_TRUE(hardware->set(device, {Selector::BufferFrameSize}, std::uint32_t{128}));
    EXPECT_EQ(reconfigured, 0); // not running: an ordinary change
    ASSERT_TRUE(start(probe));

    ASSERT_TRUE(hardware->set(device, {Selector::BufferFrameSize}, std::uint32_t{64}));
    EXPECT_EQ(reconfigured, 1);
    ASSERT_TRUE(hardware->set(device, {Selector::NominalSampleRate}, 96000.0));
    EXPECT_EQ(reconfigured, 2);
    ASSERT_TRUE(virt->changeDevice(kUid, {kUid, "Virtual Audio Device", 2, 6}));
    EXPECT_EQ(reconfigured, 3);
    ASSERT_TRUE(virt->runPeriods(kUid, 1));
    EXPECT_EQ(probe.lastFrames, 128u);
    EXPECT_EQ(probe.lastInputs, 8u);

    hardware->stopIo(device);
    ASSERT_TRUE(virt->startRecording(kUid, 64));
    ASSERT_TRUE(start(probe));
    ASSERT_TRUE(virt->runPeriods(kUid, 1));
    EXPECT_EQ(probe.lastFrames, 64u);
    EXPECT_EQ(probe.lastInputs, 2u);
    EXPECT_EQ(probe.lastOutputs, 6u);
    const auto in = virt->recordedInput(kUid, 1);
    ASSERT_EQ(in.size(), 64u);
    EXPECT_NEAR(in[5], 0.1 * std::sin(2.0 * std::numbers::pi * 400.0 * 5 / 96000.0), 1e-6);
    EXPECT_TRUE(virt->recordedInput(kUid, 2).empty());

    EXPECT_TRUE(virt->forceReconfiguration(kUid));
    EXPECT_EQ(reconfigured, 4);
}

TEST_F(VirtualIo, PacedClockDeliversTheSameSignalsSwitchesModeWhileRunningAndStopsForGood) {
    ASSERT_TRUE(virt->startRecording(kUid, 2048));
    ASSERT_TRUE(start(probe));
    EXPECT_FALSE(virt->runPeriods(kUid, 1)); // the clock thread owns the periods
    ASSERT_TRUE(waitFor([&] { return virt->recordedInput(kUid, 3).size() == 2048; }));
    const auto in = virt->recordedInput(kUid, 3);
    for (std::uint64_t n = 0; n < in.size(); ++n)
        ASSERT_NEAR(in[n], 0.2 * std::sin(2.0 * std::numbers::pi * 800.0 * static_cast<double>(n) / 48000.0), 1e-6);

    ASSERT_TRUE(virt->setClockMode(kUid, VirtualBackend::ClockMode::Manual));
    const auto paced = probe.calls.load();
    ASSERT_TRUE(virt->runPeriods(kUid, 3));
    EXPECT_EQ(probe.calls, paced + 3);
    EXPECT_EQ(virt->framesProcessed(kUid), (paced + 3) * 256);
    ASSERT_TRUE(virt->setClockMode(kUid, VirtualBackend::ClockMode::Paced));
    ASSERT_TRUE(waitFor([&] { return probe.calls > paced + 5; }));

    hardware->stopIo(device);
    const auto calls = probe.calls.load();
    EXPECT_EQ(virt->framesProcessed(kUid), calls * 256);
    EXPECT_FALSE(waitFor([&] { return probe.calls != calls; }, 50ms));
}

TEST_F(VirtualIo, OnlyMissedDeadlinesAreOverloadsAndEachIsAnnouncedOnce) {
    auto& overloads = listen(device, {Selector::Overload});
    // A device that keeps up has none.
    ASSERT_TRUE(hardware->set(device, {Selector::BufferFrameSize}, std::uint32_t{1024}));
    ASSERT_TRUE(start(probe));
    ASSERT_TRUE(waitFor([&] { return probe.calls >= 6; }));
    hardware->stopIo(device);
    EXPECT_EQ(overloads, 0);
    EXPECT_EQ(virt->overloadCount(kUid), 0u);

    ASSERT_TRUE(hardware->set(device, {Selector::BufferFrameSize}, std::uint32_t{64}));
    probe.stallMilliseconds = 20; // a period lasts 1.3 ms
    ASSERT_TRUE(start(probe));
    ASSERT_TRUE(waitFor([&] { return overloads >= 3; }));
    hardware->stopIo(device);
    // Every overload counted has been announced by the time I/O has stopped.
    EXPECT_EQ(static_cast<std::uint64_t>(overloads.load()), virt->overloadCount(kUid));
    EXPECT_LE(virt->overloadCount(kUid), probe.calls.load());

    // A forced one is counted and announced the same way.
    const int before = overloads;
    ASSERT_TRUE(virt->forceOverload(kUid));
    EXPECT_FALSE(virt->forceOverload("virtual:nobody"));
    EXPECT_EQ(overloads, before + 1);
    EXPECT_EQ(virt->overloadCount(kUid), static_cast<std::uint64_t>(before + 1));
}

// Notes, for each message the control input is handed, how many periods had
// run before it and the message's value byte. Fixed room: it runs in real time.
class HeardControl final : public ControlInput {
public:
    explicit HeardControl(const IoProbe& probe) : probe_(probe) {}
    void receive(const std::uint8_t* bytes, std::uint32_t size) noexcept override {
        if (count < heard.size())
            heard[count++] = {probe_.calls.load(), size == 3 ? bytes[2] : -1};
    }
    std::array<std::pair<std::uint64_t, int>, 16> heard{};
    std::size_t count = 0;

private:
    const IoProbe& probe_;
};

TEST_F(VirtualIo, ControllerMessagesReachTheControlInputFirstInTheirPeriodInOrderAndAFullRingDropsAndCounts) {
    // A sequencer that opens nowhere: MIDI control is then merely absent,
    // said once in the log, and the device plays on.
    LogCapture log;
    auto sequencer = std::make_shared<alsa::SequencerInput>("corvane-no-such-sequencer", 4);
    virt->setSequencer(sequencer);
    HeardControl control(probe);
    sequencer->setControlInput(&control);
    virt->setClockMode(kUid, VirtualBackend::ClockMode::Manual);
    MidiEventRing& ring = sequencer->ring();
    auto send = [&ring](int value) {
        const std::uint8_t message[3] = {0xB0, 64, static_cast<std::uint8_t>(value)};
        return ring.push(message, 3);
    };
    EXPECT_FALSE(send(1)); // nothing plays: not kept for a later start
    ASSERT_TRUE(start(probe));
    EXPECT_TRUE(sequencer->sources().empty());
    EXPECT_EQ(log.count(QStringLiteral("did not open")), 1);

    for (int value = 2; value <= 5; ++value)
        EXPECT_TRUE(send(value));
    EXPECT_FALSE(send(6)); // four wait already
    EXPECT_EQ(ring.dropped(), 1u);
    RealtimeChecker checker;
    ASSERT_TRUE(virt->runPeriods(kUid, 1));
    for (int value = 7; value <= 9; ++value) // past the ring's end
        EXPECT_TRUE(send(value));
    ASSERT_TRUE(virt->runPeriods(kUid, 2));
    EXPECT_EQ(checker.violations(), 0u) << checker.report();
    hardware->stopIo(device);

    const std::vector<std::pair<std::uint64_t, int>> expected{{0, 2}, {0, 3}, {0, 4}, {0, 5},
                                                              {1, 7}, {1, 8}, {1, 9}};
    EXPECT_EQ(std::vector(control.heard.begin(), control.heard.begin() + control.count), expected);
    EXPECT_EQ(ring.dropped(), 1u);
}
