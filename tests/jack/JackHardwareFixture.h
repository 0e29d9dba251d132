#pragma once
// The hardware layer with only the JACK backend in it, on a private jackd the
// fixture starts (and always stops, whatever the test did).

#include "platform/system/RealtimeScope.h"
#include "platform/hardware/AudioHardware.h"
#include "platform/hardware/jack/JackBackend.h"
#include "tests/support/EventLoop.h"
#include "tests/support/JackServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <thread>

namespace corvane::test {

// Plays 0.1 * k on output channel k (from 1), remembers the first sample of
// each input's latest period and whether it ran inside a real-time scope, and
// on request misses one deadline by holding the process thread.
class ConstantIoCallback : public hw::IoCallback {
public:
    static float valueFor(std::size_t k) { return 0.1f * static_cast<float>(k); }

    void process(const float* const* inputs, std::uint32_t inputCount, float* const* outputs,
                 std::uint32_t outputCount, std::uint32_t frames) noexcept override {
        if (stall.exchange(false))
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        while (hang.load()) {
            hanging.store(true);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        for (std::uint32_t i = 0; i < inputCount && i < heard.size(); ++i)
            heard[i].store(inputs[i][0]);
        for (std::uint32_t o = 0; o < outputCount; ++o)
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
};

class JackHardwareFixture : public ::testing::Test {
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
        return hardware->getAs<std::vector<hw::ObjectId>>(hw::kSystemObject, hw::Address{hw::Selector::Devices})
            .value_or(std::vector<hw::ObjectId>{});
    }
    std::optional<hw::ObjectId> deviceByUid(const std::string& uid) const {
        for (auto id : devices())
            if (hardware->getAs<std::string>(id, hw::Address{hw::Selector::Uid}) == uid)
                return id;
        return std::nullopt;
    }
    hw::ObjectId systemDevice() const { return deviceByUid("jack:system").value_or(hw::kNoObject); }
    std::uint32_t channels(hw::ObjectId device, hw::Scope scope) const {
        auto layout = hardware->getAs<hw::StreamConfiguration>(device, {hw::Selector::StreamConfiguration, scope});
        return layout ? std::accumulate(layout->bufferChannels.begin(), layout->bufferChannels.end(), 0u) : 0u;
    }
    // Counts calls of the listener on (object, address) from now on.
    std::shared_ptr<std::atomic<int>> countCalls(hw::ObjectId object, hw::Address address) {
        auto calls = std::make_shared<std::atomic<int>>(0);
        hardware->addListener(object, address, [calls] { ++*calls; });
        return calls;
    }

    ConstantIoCallback callback; // outlives the layer, which may still be calling it
    std::unique_ptr<JackServer> server;
    std::unique_ptr<hw::AudioHardware> hardware;
    hw::JackBackend* jack = nullptr;
};

} // namespace corvane::test
