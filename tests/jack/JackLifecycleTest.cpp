// A server that dies or restarts underneath us.
#include "tests/jack/JackHardwareFixture.h"

namespace corvane::test {
namespace {

using hw::Address;
using hw::Selector;

class JackLifecycle : public JackHardwareFixture {};

TEST_F(JackLifecycle, KilledServerTakesTheDeviceAndARestartBringsItBackUnderANewId) {
    ASSERT_NO_FATAL_FAILURE(startAll({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 2}));
    const auto before = systemDevice();
    ASSERT_NE(before, hw::kNoObject);
    auto listChanges = countCalls(hw::kSystemObject, Address{Selector::Devices});

    server->kill();
    ASSERT_TRUE(waitFor([this] { return devices().empty(); }));
    EXPECT_GE(listChanges->load(), 1);
    EXPECT_FALSE(hardware->get(before, Address{Selector::Name}).has_value());
    EXPECT_FALSE(hardware->set(before, Address{Selector::BufferFrameSize}, std::uint32_t{512}));

    const int changesWhileGone = listChanges->load();
    ASSERT_TRUE(server->start());
    ASSERT_TRUE(waitFor([this] { return systemDevice() != hw::kNoObject; }));
    EXPECT_GT(listChanges->load(), changesWhileGone);
    const auto after = systemDevice();
    EXPECT_NE(after, before);
    EXPECT_EQ(hardware->getAs<std::string>(after, Address{Selector::Uid}), "jack:system");
}

TEST_F(JackLifecycle, ServerDeathDuringIoIsSurvivedAndIoStartsAgainAfterARestart) {
    ASSERT_NO_FATAL_FAILURE(startAll({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 2}));
    ConstantIoCallback callback;
    std::string error;
    const auto first = systemDevice();
    ASSERT_TRUE(hardware->startIo(first, callback, error)) << error;
    ASSERT_TRUE(waitFor([&] { return callback.periods.load() > 2; }));

    server->kill();
    ASSERT_TRUE(waitFor([this] { return devices().empty(); }));
    hardware->stopIo(first); // the engine's reaction to the loss: must be harmless
    EXPECT_FALSE(hardware->startIo(first, callback, error));
    EXPECT_FALSE(error.empty());

    ASSERT_TRUE(server->start());
    ASSERT_TRUE(waitFor([this] { return systemDevice() != hw::kNoObject; }));
    ConstantIoCallback again;
    ASSERT_TRUE(hardware->startIo(systemDevice(), again, error)) << error;
    EXPECT_TRUE(waitFor([&] { return again.periods.load() > 2; }));
    hardware->stopIo(systemDevice());
}

TEST_F(JackLifecycle, CleanlyStoppedServerAlsoTakesItsDevices) {
    ASSERT_NO_FATAL_FAILURE(startAll({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 2}));
    ASSERT_NE(systemDevice(), hw::kNoObject);
    server->stop();
    EXPECT_TRUE(waitFor([this] { return devices().empty() && !jack->isConnected(); }));
}

} // namespace
} // namespace corvane::test
