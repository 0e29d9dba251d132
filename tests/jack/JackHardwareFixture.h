#pragma once
// The hardware layer with only the JACK backend in it, on a private jackd the
// fixture starts (and always stops, whatever the test did).

#include "platform/hardware/AudioHardware.h"
#include "platform/hardware/jack/JackBackend.h"
#include "tests/support/EventLoop.h"
#include "tests/support/JackServer.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

namespace corvane::test {

class JackHardwareFixture : public ::testing::Test {
protected:
    // Starts `config`'s server, then the layer; fails the test if either is not ready.
    void startAll(JackServer::Config config);
    // The layer alone, on whatever server JACK_DEFAULT_SERVER names; fails the
    // test unless the backend settles within `settleWithin`.
    void startLayer(std::chrono::milliseconds settleWithin = std::chrono::milliseconds(3000));

    std::optional<hw::ObjectId> deviceByUid(const std::string& uid) const;
    std::vector<hw::ObjectId> devices() const;
    hw::ObjectId systemDevice() const; // kNoObject when absent
    std::uint32_t channels(hw::ObjectId device, hw::Scope scope) const;

    // Counts calls of the listener on (object, address) from now on.
    std::shared_ptr<std::atomic<int>> countCalls(hw::ObjectId object, hw::Address address);

    void TearDown() override;

    std::unique_ptr<JackServer> server;
    std::unique_ptr<hw::AudioHardware> hardware;
    hw::JackBackend* jack = nullptr;
};

// A process callback that plays a constant per output channel (0.1 * k for
// channel k, from 1) and remembers what its inputs last held.
class ConstantIoCallback : public hw::IoCallback {
public:
    static constexpr std::size_t kMax = 8;
    static float valueFor(std::size_t k) { return 0.1f * static_cast<float>(k); }

    void process(const float* const* inputs, std::uint32_t inputCount, float* const* outputs,
                 std::uint32_t outputCount, std::uint32_t frames) noexcept override;

    std::atomic<std::uint64_t> periods{0};
    std::atomic<std::uint32_t> largestFrames{0};
    std::array<std::atomic<float>, kMax> heard{}; // first sample of input k-1's latest period
};

} // namespace corvane::test
