// What libjack says while no server runs reaches our log once, not again on
// every attempt to connect. Needs no server.
#include "platform/hardware/jack/JackConnector.h"
#include "platform/hardware/jack/LibjackMessages.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LogCapture.h"

#include <QLoggingCategory>
#include <gtest/gtest.h>

#include <atomic>

namespace corvane::hw {
namespace {

using namespace std::chrono_literals;

TEST(LibjackMessages, FailedAttemptsAreToldOnce) {
    routeLibjackMessages();
    QLoggingCategory::setFilterRules(QStringLiteral("corvane.jack.debug=true"));
    test::LogCapture log;
    std::atomic<int> failures{0};
    {
        JackConnector connector({"corvane-quiet", "corvane-no-such-server", 10ms},
                                [](jack_client_t*) { return true; }, [&] { ++failures; });
        EXPECT_TRUE(test::waitFor([&] { return failures >= 3; }, 10s));
    }
    QLoggingCategory::setFilterRules(QString());
    const QStringList said = log.messagesIn("corvane.jack", QtDebugMsg);
    ASSERT_FALSE(said.isEmpty()) << "libjack said nothing about the missing server";
    // All of it from the first attempt: its opening line was said once.
    EXPECT_EQ(said.count(said.first()), 1) << said.join('\n').toStdString();
}

TEST(LibjackMessages, AChangedLineIsToldAndAConnectionStartsAfresh) {
    ConnectionAttemptMessages messages;
    auto attempt = [&](const std::vector<std::string>& lines, bool connected) {
        std::vector<std::string> news;
        for (const auto& line : lines)
            if (messages.isNews(line))
                news.push_back(line);
        messages.finish(connected);
        return news;
    };
    using Lines = std::vector<std::string>;
    const Lines first{"no socket", "no server", "no server"};
    EXPECT_EQ(attempt(first, false), first);
    EXPECT_EQ(attempt(first, false), Lines{});
    // From the first line that differs on, the attempt is told.
    const Lines changed{"no socket", "refused", "no server"};
    EXPECT_EQ(attempt(changed, false), (Lines{"refused", "no server"}));
    EXPECT_EQ(attempt({"no socket"}, true), Lines{});
    EXPECT_EQ(attempt(changed, false), changed);
}

} // namespace
} // namespace corvane::hw
