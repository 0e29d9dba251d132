// `corvane --list-devices` with and without a JACK server.
#include "tests/integration/CorvaneProcess.h"
#include "tests/support/JackServer.h"

#include <gtest/gtest.h>

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

TEST(ListDevices, AServersSystemDeviceComesFirstAndWithoutOneOnlyTheVirtualDeviceIsListed) {
    const QString virtualLine = "virtual:default\tVirtual Audio Device\t8 in\t8 out\n";
    {
        CorvaneProcess corvane(onJackServer(QString::fromStdString(JackServer::unusedName())));
        ASSERT_TRUE(corvane.start({"--list-devices"}));
        // How soon it answers without a server is the JACK backend's own test
        // (it settles at its first failed attempt); here, that it answers.
        ASSERT_TRUE(corvane.finish(10s));
        EXPECT_EQ(corvane.exitCode(), 0);
        EXPECT_EQ(corvane.standardOutput(), virtualLine);
    }
    JackServer server({.rate = 48000, .frames = 256, .inputs = 4, .outputs = 6});
    ASSERT_TRUE(server.start()) << server.logPath();
    CorvaneProcess corvane(onJackServer(QString::fromStdString(server.name())));
    ASSERT_TRUE(corvane.start({"--list-devices"}));
    ASSERT_TRUE(corvane.finish(5s));
    EXPECT_EQ(corvane.exitCode(), 0);
    EXPECT_EQ(corvane.standardOutput(), "jack:system\tsystem (JACK)\t4 in\t6 out\n" + virtualLine);
}

} // namespace
} // namespace corvane::test
