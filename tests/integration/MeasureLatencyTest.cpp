// `corvane --measure-latency` on a private jackd: the program's own output port
// connected to its own input port comes back one period later (JACK runs a
// client's feedback a cycle late), whatever the ports' latencies say.
#include "tests/integration/CorvaneProcess.h"
#include "tests/support/JackServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>
#include <jack/jack.h>

#include <string>
#include <thread>

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

// Our port whose name ends in `suffix`, once the program has registered it.
std::string programPort(jack_client_t* client, const char* suffix) {
    std::string found;
    if (const char** ports = jack_get_ports(client, suffix, JACK_DEFAULT_AUDIO_TYPE, 0)) {
        for (const char** p = ports; *p; ++p)
            if (std::string(*p).rfind("system:", 0) != 0)
                found = *p;
        jack_free(ports);
    }
    return found;
}

TEST(MeasureLatency, TheProgramsOwnOutputIntoItsOwnInputIsOnePeriod) {
    JackServer server({.rate = 48000, .frames = 256, .inputs = 2, .outputs = 2});
    ASSERT_TRUE(server.start()) << server.logPath();
    CorvaneProcess corvane(onJackServer(QString::fromStdString(server.name())));
    ASSERT_TRUE(corvane.start({"--measure-latency", "--device", "jack:system", "--out", "1", "--in", "1"}));

    jack_client_t* cable = jack_client_open("cable", JackNoStartServer, nullptr);
    ASSERT_NE(cable, nullptr);
    std::string out;
    std::string in;
    for (int i = 0; i < 200 && (out.empty() || in.empty()); ++i) {
        std::this_thread::sleep_for(10ms);
        out = programPort(cable, ":out_1$");
        in = programPort(cable, ":in_1$");
    }
    // Each run reads the last third of a second it recorded: a connection made now is in time.
    EXPECT_EQ(jack_connect(cable, out.c_str(), in.c_str()), 0) << out << " -> " << in;
    jack_client_close(cable);

    ASSERT_TRUE(corvane.finish(15s)) << corvane.standardError().toStdString();
    ASSERT_EQ(corvane.exitCode(), 0) << corvane.standardError().toStdString();
    const auto report = QJsonDocument::fromJson(corvane.standardOutput().toUtf8()).object();
    EXPECT_NEAR(report["measuredFrames"].toDouble(), 256, 0.05);
    // The estimate counts the system ports' latency: a period in, two out.
    EXPECT_EQ(report["estimateFrames"].toInt(), 768);
    EXPECT_EQ(report["polarity"].toString(), "normal");
}

} // namespace
} // namespace corvane::test
