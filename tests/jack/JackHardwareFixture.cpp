#include "tests/jack/JackHardwareFixture.h"

#include <algorithm>

namespace corvane::test {

using namespace std::chrono_literals;

void JackHardwareFixture::startAll(JackServer::Config config) {
    server = std::make_unique<JackServer>(config);
    ASSERT_TRUE(server->start()) << "jackd did not start; see " << server->logPath();
    startLayer();
}

void JackHardwareFixture::startLayer(std::chrono::milliseconds settleWithin) {
    hw::JackBackend::Options options;
    options.retryInterval = 100ms;
    std::vector<std::unique_ptr<hw::Backend>> backends;
    backends.push_back(std::make_unique<hw::JackBackend>(options));
    hardware = std::make_unique<hw::AudioHardware>(std::move(backends));
    jack = hardware->backend<hw::JackBackend>();
    ASSERT_TRUE(waitFor([this] { return jack->isSettled(); }, settleWithin));
}

std::vector<hw::ObjectId> JackHardwareFixture::devices() const {
    return hardware->getAs<std::vector<hw::ObjectId>>(hw::kSystemObject, hw::Address{hw::Selector::Devices})
        .value_or(std::vector<hw::ObjectId>{});
}

std::optional<hw::ObjectId> JackHardwareFixture::deviceByUid(const std::string& uid) const {
    for (auto id : devices())
        if (hardware->getAs<std::string>(id, hw::Address{hw::Selector::Uid}) == uid)
            return id;
    return std::nullopt;
}

hw::ObjectId JackHardwareFixture::systemDevice() const { return deviceByUid("jack:system").value_or(hw::kNoObject); }

std::uint32_t JackHardwareFixture::channels(hw::ObjectId device, hw::Scope scope) const {
    auto configuration =
        hardware->getAs<hw::StreamConfiguration>(device, hw::Address{hw::Selector::StreamConfiguration, scope});
    std::uint32_t total = 0;
    if (configuration)
        for (auto count : configuration->bufferChannels)
            total += count;
    return total;
}

std::shared_ptr<std::atomic<int>> JackHardwareFixture::countCalls(hw::ObjectId object, hw::Address address) {
    auto calls = std::make_shared<std::atomic<int>>(0);
    hardware->addListener(object, address, [calls] { ++*calls; });
    return calls;
}

void JackHardwareFixture::TearDown() {
    hardware.reset();
    server.reset();
}

void ConstantIoCallback::process(const float* const* inputs, std::uint32_t inputCount, float* const* outputs,
                                 std::uint32_t outputCount, std::uint32_t frames) noexcept {
    for (std::uint32_t i = 0; i < inputCount && i < kMax; ++i)
        heard[i].store(inputs[i][0]);
    for (std::uint32_t o = 0; o < outputCount; ++o)
        std::fill(outputs[o], outputs[o] + frames, valueFor(o + 1));
    if (frames > largestFrames.load())
        largestFrames.store(frames);
    periods.fetch_add(1);
}

} // namespace corvane::test
