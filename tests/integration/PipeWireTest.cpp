// The program on PipeWire, through PipeWire's libjack, as most desktop users run it.
#include "tests/integration/CorvaneProcess.h"
#include "tests/support/PipeWireServer.h"

#include <gtest/gtest.h>

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

TEST(PipeWire, ListDevicesShowsTheCardAsTheJackSystemDeviceBeforeTheVirtualOne) {
    PipeWireServer server;
    ASSERT_TRUE(server.start()) << server.logPath();
    CorvaneProcess corvane(server.clientEnvironment());
    ASSERT_TRUE(corvane.start({QStringLiteral("--list-devices")}));
    ASSERT_TRUE(corvane.finish(5s)) << corvane.standardError().toStdString();
    EXPECT_EQ(corvane.exitCode(), 0);
    EXPECT_EQ(corvane.standardOutput(), QStringLiteral("jack:system\tsystem (JACK)\t2 in\t2 out\n"
                                                       "virtual:default\tVirtual Audio Device\t8 in\t8 out\n"));
}

} // namespace
} // namespace corvane::test
