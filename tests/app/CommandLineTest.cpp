#include "app/CommandLine.h"

#include <gtest/gtest.h>

using namespace corvane;

namespace {
std::variant<CommandLine, ParseError> parse(QStringList args) {
    args.prepend(QStringLiteral("corvane"));
    return parseCommandLine(args);
}
QString errorOf(const std::variant<CommandLine, ParseError>& result) {
    auto* e = std::get_if<ParseError>(&result);
    return e ? e->message : QString();
}
} // namespace

TEST(CommandLine, HeadlessRunWithEveryOption) {
    auto result = parse({"--headless", "--device", "jack:system", "--rate", "96000", "--buffer", "128", "--strip",
                         "1:in=1,out=1-2", "--strip", "3:in=3-4,out=5,plugin=urn:x:gain,bypass", "--seconds", "2.5",
                         "--report", "-"});
    ASSERT_TRUE(std::holds_alternative<CommandLine>(result)) << errorOf(result).toStdString();
    const auto& line = std::get<CommandLine>(result);
    EXPECT_EQ(line.mode, CommandLine::Mode::Headless);
    EXPECT_EQ(line.headless.deviceUid, "jack:system");
    EXPECT_EQ(line.headless.sampleRate, 96000.0);
    EXPECT_EQ(line.headless.bufferFrames, 128u);
    EXPECT_EQ(line.headless.seconds, 2.5);
    EXPECT_EQ(line.headless.reportPath, "-");
    ASSERT_EQ(line.headless.strips.size(), 2u);
    EXPECT_EQ(line.headless.strips[0], (StripSpec{1, 1, false, 1, true, {}, false}));
    EXPECT_EQ(line.headless.strips[1], (StripSpec{3, 3, true, 5, false, "urn:x:gain", true}));
}

TEST(CommandLine, BadArgumentsAreNamedInTheError) {
    const std::vector<std::pair<QStringList, QString>> cases = {
        {{"--headless", "--strip", "9:in=1,out=1"}, "--strip 9:in=1,out=1"},
        {{"--headless", "--strip", "1:in=2-4,out=1"}, "in="},       // a pair must be adjacent
        {{"--headless", "--strip", "1:in=0,out=1"}, "in="},         // channels count from 1
        {{"--headless", "--strip", "1:in=1"}, "both in= and out="},
        {{"--headless", "--strip", "1:in=1,out=1,wet=3"}, "wet=3"},
        {{"--headless", "--strip", "1:in=1,out=1", "--strip", "1:in=2,out=2"}, "twice"},
        {{"--headless", "--strip", "1:in=1,out=1", "--rate", "fast"}, "--rate"},
        {{"--headless", "--strip", "1:in=1,out=1", "--buffer"}, "--buffer"},
        {{"--headless", "--strip", "1:in=1,out=1", "--seconds", "-1"}, "--seconds"},
        {{"--headless"}, "--strip"},
        {{"--strip", "1:in=1,out=1"}, "--headless"},
        {{"--frobnicate"}, "--frobnicate"},
    };
    for (const auto& [args, fragment] : cases) {
        const QString message = errorOf(parse(args));
        EXPECT_TRUE(message.contains(fragment)) << args.join(' ').toStdString() << " -> " << message.toStdString();
        EXPECT_FALSE(message.contains('\n'));
    }
}

TEST(CommandLine, ListingModes) {
    EXPECT_EQ(std::get<CommandLine>(parse({})).mode, CommandLine::Mode::Window);
    EXPECT_EQ(std::get<CommandLine>(parse({"--list-devices"})).mode, CommandLine::Mode::ListDevices);
    EXPECT_EQ(std::get<CommandLine>(parse({"--list-plugins"})).mode, CommandLine::Mode::ListPlugins);
}
