// The JACK backend on a private jackd the fixture starts (and always stops,
// whatever the test did): the server's physical ports as devices, in their
// natural order, duplex I/O through our client's ports, and a server that
// comes late, dies or hangs underneath us.
#include "platform/system/RealtimeScope.h"
#include "platform/hardware/AudioHardware.h"
#include "platform/hardware/jack/JackBackend.h"
#include "platform/hardware/jack/JackDeviceScan.h"
#include "platform/hardware/jack/JackServerPresence.h"
#include "tests/jack/JackProbeClient.h"
#include "tests/support/EventLoop.h"
#include "tests/support/JackServer.h"
#include "tests/support/RealtimeChecker.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace corvane::test {
namespace {

using hw::Address;
using hw::Scope;
using hw::Selector;

// Plays 0.1 * k on output channel k (from 1), remembers each input's latest
// period (its value if the whole period held one, else NaN; -1 when it was not
// handed over) and whether it ran inside a real-time scope, and on request
// misses one deadline by holding the process thread, or hangs, or uses only
// the first input and the first two outputs.
class ConstantIoCallback : public hw::IoCallback {
public:
    static float valueFor(std::size_t k) { return 0.1f * static_cast<float>(k); }

    const hw::ChannelUse* channelUse(std::uint32_t) noexcept override {
        return fewChannels.load() ? &few : nullptr;
    }

    void process(const float* const* inputs, std::uint32_t inputCount, float* const* outputs,
                 std::uint32_t outputCount, std::uint32_t frames) noexcept override {
        if (stall.exchange(false))
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        while (hang.load()) {
            hanging.store(true);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (std::uint32_t i = 0; i < inputCount && i < heard.size(); ++i) {
            if (!inputs[i]) {
                heard[i].store(-1.0f);
                continue;
            }
            const bool constant = std::all_of(inputs[i], inputs[i] + frames, [&](float v) { return v == inputs[i][0]; });
            heard[i].store(constant ? inputs[i][0] : std::nanf(""));
        }
        for (std::uint32_t o = 0; o < outputCount; ++o)
            if (outputs[o])
                std::fill(outputs[o], outputs[o] + frames, valueFor(o + 1));
        lastFrames.store(frames);
        realtime.store(corvane::inRealtimeScope());
        periods.fetch_add(1);
    }

    std::atomic<bool> stall{false};
    std::atomic<bool> hang{false};    // stays in the callback until cleared
    std::atomic<bool> hanging{false}; // it got there
    std::atomic<std::uint64_t> periods{0};
    std::atomic<std::uint32_t> lastFrames{0};
    std::atomic<bool> realtime{false};
    std::array<std::atomic<float>, 8> heard{};
    std::atomic<bool> fewChannels{false};
    static constexpr std::uint8_t kUsed[2] = {1, 1};
    static constexpr std::uint32_t kUsedList[2] = {0, 1};
    const hw::ChannelUse few{kUsed, 1, kUsed, 2, kUsedList, 1, kUsedList, 2, 1};
};

class JackBackendTest : public ::testing::Test {
protected:
    void startAll(JackServer::Config config = {}) {
        server = std::make_unique<JackServer>(config);
        ASSERT_TRUE(server->start()) << "jackd did not start; see " << server->logPath();
        startLayer();
    }
    // The layer alone, on whatever server JACK_DEFAULT_SERVER names.
    void startLayer(std::chrono::milliseconds settleWithin = std::chrono::milliseconds(3000)) {
        hw::JackBackend::Options options;
        options.retryInterval = std::chrono::milliseconds(100);
        std::vector<std::unique_ptr<hw::Backend>> backends;
        backends.push_back(std::make_unique<hw::JackBackend>(options));
        hardware = std::make_unique<hw::AudioHardware>(std::move(backends));
        jack = hardware->backend<hw::JackBackend>();
        ASSERT_TRUE(waitFor([this] { return jack->isSettled(); }, settleWithin));
    }
    void TearDown() override {
        hardware.reset();
        server.reset();
    }

    std::vector<hw::ObjectId> devices() const {
        return hardware->getAs<std::vector<hw::ObjectId>>(hw::kSystemObject, Address{Selector::Devices})
            .value_or(std::vector<hw::ObjectId>{});
    }
    std::optional<hw::ObjectId> deviceByUid(const std::string& uid) const {
        for (auto id : devices())
            if (hardware->getAs<std::string>(id, Address{Selector::Uid}) == uid)
                return id;
        return std::nullopt;
    }
    hw::ObjectId systemDevice() const { return deviceByUid("jack:system").value_or(hw::kNoObject); }
    std::uint32_t channels(hw::ObjectId device, Scope scope) const {
        auto layout = hardware->getAs<hw::StreamConfiguration>(device, {Selector::StreamConfiguration, scope});
        return layout ? std::accumulate(layout->bufferChannels.begin(), layout->bufferChannels.end(), 0u) : 0u;
    }
    // Counts calls of the listener on (object, address) from now on.
    std::shared_ptr<std::atomic<int>> countCalls(hw::ObjectId object, Address address) {
        auto calls = std::make_shared<std::atomic<int>>(0);
        hardware->addListener(object, address, [calls] { ++*calls; });
        return calls;
    }
    bool start(hw::ObjectId device = hw::kNoObject) {
        std::string error;
        const bool started =
            hardware->startIo(device == hw::kNoObject ? systemDevice() : device, callback, error);
        EXPECT_EQ(error.empty(), started) << error;
        return started;
    }
    std::string ours(const char* direction, std::size_t k) const {
        return jack->clientName() + ":" + direction + std::to_string(k);
    }

    ConstantIoCallback callback; // outlives the layer, which may still be calling it
    std::unique_ptr<JackServer> server;
    std::unique_ptr<hw::AudioHardware> hardware;
    hw::JackBackend* jack = nullptr;
};

using JackDevices = JackBackendTest;
using JackIo = JackBackendTest;
using JackLifecycle = JackBackendTest;

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
    auto range = hardware->getAs<std::vector<hw::ValueRange>>(device, Address{Selector::BufferFrameSizeRange});
    ASSERT_TRUE(range && !range->empty());
    EXPECT_LE(range->front().minimum, 256);
    EXPECT_GE(range->back().maximum, 1024);

    // The physical ports' latency holds one period of buffering already; the
    // device's own latency is what they add beyond it.
    JackProbeClient probe("probe");
    ASSERT_TRUE(probe.ok());
    jack_latency_range_t capture{}, playback{};
    jack_port_get_latency_range(jack_port_by_name(probe.client(), "system:capture_1"), JackCaptureLatency, &capture);
    jack_port_get_latency_range(jack_port_by_name(probe.client(), "system:playback_1"), JackPlaybackLatency,
                                &playback);
    ASSERT_NE(capture.max, playback.max) << "the dummy driver no longer tells the directions apart";
    EXPECT_EQ(hardware->getAs<std::uint32_t>(device, Address{Selector::Latency, Scope::Input}), capture.max - 256);
    EXPECT_EQ(hardware->getAs<std::uint32_t>(device, Address{Selector::Latency, Scope::Output}), playback.max - 256);
}

TEST_F(JackDevices, ClientWithPhysicalPortsComesAndGoesAsADevice) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    auto listChanges = countCalls(hw::kSystemObject, Address{Selector::Devices});
    std::string uid;
    {
        // Physical JACK inputs are the card's playback side: the device's outputs.
        JackProbeClient card("card", 2, 3);
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

TEST_F(JackIo, OurPortsAreWiredToTheHardwareInOrderAndWhatTheyPlayComesBackThroughJackInRealTime) {
    ASSERT_NO_FATAL_FAILURE(startAll({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 3}));
    RealtimeChecker checker;
    ASSERT_TRUE(start());

    JackProbeClient probe("probe");
    ASSERT_TRUE(probe.ok());
    for (std::size_t k = 1; k <= 3; ++k)
        EXPECT_TRUE(probe.connected(ours("out_", k), "system:playback_" + std::to_string(k)));
    for (std::size_t k = 1; k <= 2; ++k)
        EXPECT_TRUE(probe.connected(ours("in_", k), "system:capture_" + std::to_string(k)));
    EXPECT_FALSE(probe.portExists(ours("in_", 3)));
    // Looped back by another client, the first and last output into the first
    // input: the dummy driver captures silence, so each input holds just what
    // those outputs played, whole periods of it.
    for (auto [out, in] : {std::pair{1, 1}, std::pair{3, 1}, std::pair{2, 2}})
        ASSERT_TRUE(probe.connect(ours("out_", out), ours("in_", in)));
    const float sum = ConstantIoCallback::valueFor(1) + ConstantIoCallback::valueFor(3);
    EXPECT_TRUE(waitFor([&] {
        return callback.heard[0].load() == sum && callback.heard[1].load() == ConstantIoCallback::valueFor(2);
    })) << callback.heard[0].load() << " " << callback.heard[1].load();
    // An input the callback does not use is not handed over, and an output it
    // does not use falls silent though it was playing and stays wired.
    callback.fewChannels = true;
    EXPECT_TRUE(waitFor([&] {
        return callback.heard[0].load() == ConstantIoCallback::valueFor(1) &&
               callback.heard[1].load() == -1.0f;
    })) << callback.heard[0].load() << " " << callback.heard[1].load();
    EXPECT_TRUE(probe.connected(ours("out_", 3), "system:playback_3"));

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
    JackProbeClient probe("probe");
    ASSERT_TRUE(probe.ok());
    EXPECT_FALSE(probe.portExists(ours("in_", 1)));
    EXPECT_FALSE(probe.portExists(ours("out_", 1)));
    const jack_nframes_t stoppedAt = probe.frameTime();
    ASSERT_TRUE(waitFor([&] { return probe.frameTime() - stoppedAt > 4 * 256; }));
    EXPECT_EQ(callback.periods.load(), periodsAtStop);

    // Stopped I/O starts again on the same device.
    ASSERT_TRUE(start());
    EXPECT_TRUE(waitFor([&] { return callback.periods.load() > periodsAtStop; }));

    // With a control input, a MIDI port: what feeds it is wired to it again after a stop and a start.
    struct : hw::ControlInput {
        void receive(const std::uint8_t*, std::uint32_t) noexcept override {}
    } control;
    jack->setControlInput(&control);
    hardware->stopIo(systemDevice());
    ASSERT_TRUE(start());
    const std::string controlPort = jack->clientName() + ":control", pedal = probe.name() + ":pedal";
    ASSERT_NE(jack_port_register(probe.client(), "pedal", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0), nullptr);
    ASSERT_TRUE(probe.connect(pedal, controlPort));
    hardware->stopIo(systemDevice());
    EXPECT_FALSE(probe.portExists(controlPort));
    ASSERT_TRUE(start());
    EXPECT_TRUE(probe.connected(pedal, controlPort));

    // The input the user chose in the window is offered, wired at each start
    // even when chosen while stopped, and unwired when none is chosen.
    const std::string keys = probe.name() + ":keys";
    ASSERT_NE(jack_port_register(probe.client(), "keys", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0), nullptr);
    EXPECT_EQ(jack->midiSources(), (std::vector<std::string>{pedal, keys}));
    hardware->stopIo(systemDevice());
    jack->setControlSource(keys);
    ASSERT_TRUE(start());
    EXPECT_TRUE(waitFor([&] { return probe.connected(keys, controlPort); }));
    jack->setControlSource("");
    EXPECT_TRUE(waitFor([&] { return !probe.connected(keys, controlPort); }));
    hardware->stopIo(systemDevice());
    ASSERT_TRUE(start());
    EXPECT_FALSE(probe.connected(keys, controlPort));
    EXPECT_TRUE(probe.connected(pedal, controlPort));
    hardware->stopIo(systemDevice()); // before `control` goes
}

TEST_F(JackIo, APeriodSizeChangeByAnyoneIsFollowedWithoutAReconfiguration) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    const auto device = systemDevice();
    auto changes = countCalls(device, Address{Selector::ConfigurationChange});
    auto sizes = countCalls(device, Address{Selector::BufferFrameSize});
    ASSERT_TRUE(start());

    ASSERT_TRUE(hardware->set(device, Address{Selector::BufferFrameSize}, std::uint32_t{128}));
    ASSERT_TRUE(waitFor([&] { return callback.lastFrames.load() == 128 && sizes->load() >= 1; }));
    JackProbeClient other("other");
    ASSERT_TRUE(other.ok());
    ASSERT_EQ(jack_set_buffer_size(other.client(), 1024), 0);
    ASSERT_TRUE(waitFor([&] { return callback.lastFrames.load() == 1024 && sizes->load() >= 2; }));
    drainEvents();
    EXPECT_EQ(changes->load(), 0);
    EXPECT_EQ(hardware->getAs<std::uint32_t>(device, Address{Selector::BufferFrameSize}), 1024u);
    // The device's own latency follows: the ports now hold 1024 and 2048 frames.
    EXPECT_EQ(hardware->getAs<std::uint32_t>(device, Address{Selector::Latency, Scope::Input}), 0u);
    EXPECT_EQ(hardware->getAs<std::uint32_t>(device, Address{Selector::Latency, Scope::Output}), 1024u);
}

TEST_F(JackLifecycle, AServerThatComesLateIsFoundAndOneKilledTakesTheDeviceEvenDuringIoUntilItIsBackUnderANewId) {
    server = std::make_unique<JackServer>();
    ::setenv("JACK_DEFAULT_SERVER", server->name().c_str(), 1);
    // The command line waits at most about a second for this.
    ASSERT_NO_FATAL_FAILURE(startLayer(std::chrono::milliseconds(900)));
    EXPECT_FALSE(jack->isConnected());
    EXPECT_TRUE(devices().empty());

    auto listChanges = countCalls(hw::kSystemObject, Address{Selector::Devices});
    ASSERT_TRUE(server->start());
    ASSERT_TRUE(waitFor([this] { return systemDevice() != hw::kNoObject; }));
    EXPECT_GE(listChanges->load(), 1);
    const auto before = systemDevice();
    ASSERT_TRUE(start());
    ASSERT_TRUE(waitFor([&] { return callback.periods.load() > 2; }));

    const int changesWhileThere = listChanges->load();
    server->kill();
    ASSERT_TRUE(waitFor([this] { return devices().empty() && !jack->isConnected(); }));
    EXPECT_GT(listChanges->load(), changesWhileThere);
    EXPECT_FALSE(hardware->get(before, Address{Selector::Name}).has_value());
    EXPECT_FALSE(hardware->set(before, Address{Selector::BufferFrameSize}, std::uint32_t{512}));
    hardware->stopIo(before); // the engine's reaction to the loss: must be harmless
    std::string error;
    EXPECT_FALSE(hardware->startIo(before, callback, error));
    EXPECT_FALSE(error.empty());

    const int changesWhileGone = listChanges->load();
    ASSERT_TRUE(server->start());
    ASSERT_TRUE(waitFor([this] { return systemDevice() != hw::kNoObject; }));
    EXPECT_GT(listChanges->load(), changesWhileGone);
    const auto after = systemDevice();
    EXPECT_NE(after, before);
    const auto periodsBefore = callback.periods.load();
    ASSERT_TRUE(start(after));
    EXPECT_TRUE(waitFor([&] { return callback.periods.load() > periodsBefore + 2; }));
}

TEST_F(JackLifecycle, ACallbackOrAServerThatHangsIsLeftBehindInBoundedTime) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    ASSERT_TRUE(start());
    callback.hang = true;
    ASSERT_TRUE(waitFor([&] { return callback.hanging.load(); }));
    const auto began = std::chrono::steady_clock::now();
    EXPECT_FALSE(hardware->stopIo(systemDevice(), std::chrono::milliseconds(200)));
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(2));
    callback.hang = false;

    // Closing a client of a server that no longer answers is not waited for.
    server->freeze(true);
    const auto closing = std::chrono::steady_clock::now();
    hardware.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - closing, std::chrono::seconds(5));
    server->freeze(false);
}

// Ports are listed in natural order, so a card's 10th channel comes after its 9th.
TEST(JackServerPresence, OnlyAServersSocketSaysOneMayBeRunning) {
    const std::string root = std::filesystem::temp_directory_path() / ("corvane-presence-" + std::to_string(::getpid()));
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root + "/shm/jack-0/default");
    const hw::JackServerPlaces places{root + "/shm", root + "/pipewire-0"};
    auto socketAt = [](const std::string& path) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << path;
        ::close(fd);
    };
    // What a server leaves behind when it is gone: shared memory, a registry.
    std::ofstream(root + "/shm/jack_default_0_0");
    std::ofstream(root + "/shm/jack-shm-registry");
    EXPECT_FALSE(hw::jackServerMayBeRunning(places));
    for (const std::string socket : {"/shm/jack-0/default/jack_0", "/pipewire-0"}) {
        socketAt(root + socket);
        EXPECT_TRUE(hw::jackServerMayBeRunning(places)) << socket;
        std::filesystem::remove(root + socket);
    }
    std::filesystem::remove(root + "/shm/jack_default_0_0");
    socketAt(root + "/shm/jack_default_0_0");
    EXPECT_TRUE(hw::jackServerMayBeRunning(places));
    std::filesystem::remove_all(root);
}

TEST(NaturalOrder, NumbersCompareByValueAndTextAsUsual) {
    const std::pair<const char*, const char*> ascending[] = {
        {"capture_2", "capture_10"},     {"capture_9", "capture_010"}, {"card2:out_1", "card10:out_1"},
        {"capture_1", "playback_1"},     {"capture", "capture_1"}};
    for (auto [less, more] : ascending) {
        EXPECT_TRUE(hw::naturalLess(less, more)) << less << " < " << more;
        EXPECT_FALSE(hw::naturalLess(more, less)) << more << " < " << less;
    }
    EXPECT_FALSE(hw::naturalLess("capture_1", "capture_1"));

    std::vector<std::string> ports{"playback_10", "playback_1", "playback_2", "playback_11", "playback_3"};
    std::sort(ports.begin(), ports.end(), hw::naturalLess);
    EXPECT_EQ(ports, (std::vector<std::string>{"playback_1", "playback_2", "playback_3", "playback_10", "playback_11"}));
}

} // namespace
} // namespace corvane::test
