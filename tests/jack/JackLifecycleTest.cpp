// A server that comes late, dies or stops underneath us.
#include "tests/jack/JackHardwareFixture.h"

#include <cstdlib>

namespace corvane::test {
namespace {

using hw::Address;
using hw::Selector;

using JackLifecycle = JackHardwareFixture;

TEST_F(JackLifecycle, KilledServerTakesTheDeviceEvenDuringIoAndARestartBringsItBackUnderANewId) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    const auto before = systemDevice();
    std::string error;
    ASSERT_TRUE(hardware->startIo(before, callback, error)) << error;
    ASSERT_TRUE(waitFor([&] { return callback.periods.load() > 2; }));
    auto listChanges = countCalls(hw::kSystemObject, Address{Selector::Devices});

    server->kill();
    ASSERT_TRUE(waitFor([this] { return devices().empty(); }));
    EXPECT_GE(listChanges->load(), 1);
    EXPECT_FALSE(hardware->get(before, Address{Selector::Name}).has_value());
    EXPECT_FALSE(hardware->set(before, Address{Selector::BufferFrameSize}, std::uint32_t{512}));
    hardware->stopIo(before); // the engine's reaction to the loss: must be harmless
    EXPECT_FALSE(hardware->startIo(before, callback, error));
    EXPECT_FALSE(error.empty());

    const int changesWhileGone = listChanges->load();
    ASSERT_TRUE(server->start());
    ASSERT_TRUE(waitFor([this] { return systemDevice() != hw::kNoObject; }));
    EXPECT_GT(listChanges->load(), changesWhileGone);
    const auto after = systemDevice();
    EXPECT_NE(after, before);
    EXPECT_EQ(hardware->getAs<std::string>(after, Address{Selector::Uid}), "jack:system");
    const auto periodsBefore = callback.periods.load();
    ASSERT_TRUE(hardware->startIo(after, callback, error)) << error;
    EXPECT_TRUE(waitFor([&] { return callback.periods.load() > periodsBefore + 2; }));
}

TEST_F(JackLifecycle, ServerThatStartsLaterIsFoundAndOneThatStopsCleanlyTakesItsDevices) {
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
    server->stop();
    EXPECT_TRUE(waitFor([this] { return devices().empty() && !jack->isConnected(); }));
}

TEST_F(JackLifecycle, ACallbackOrAServerThatHangsIsLeftBehindInBoundedTime) {
    ASSERT_NO_FATAL_FAILURE(startAll());
    std::string error;
    ASSERT_TRUE(hardware->startIo(systemDevice(), callback, error)) << error;
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

} // namespace
} // namespace corvane::test
