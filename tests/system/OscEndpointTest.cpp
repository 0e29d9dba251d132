// The OSC endpoint's port, bound where only its peer's side of the machine reaches it.
#include "platform/system/OscEndpoint.h"

#include <gtest/gtest.h>

using namespace corvane;

TEST(OscEndpoint, ListensOnlyOnLoopbackForALoopbackPeer) {
    for (const char* peer : {"osc.udp://127.0.0.1:9/", "osc.udp://localhost:9/"}) {
        QString error;
        const auto endpoint = OscEndpoint::open(peer, [](const OscMessage&) {}, error);
        ASSERT_TRUE(endpoint) << peer << ": " << error.toStdString();
        EXPECT_TRUE(endpoint->url().startsWith("osc.udp://127.0.0.1:")) << endpoint->url().toStdString();
    }
}
