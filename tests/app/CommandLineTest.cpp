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
                         "1:in=1,out=1-2", "--strip", "3:in=3-4,out=5,bypass,plugin=urn:x:gain", "--seconds", "2.5",
                         "--report", "-", "--setup", "gig.json", "--save-setup", "after.json"});
    ASSERT_TRUE(std::holds_alternative<CommandLine>(result)) << errorOf(result).toStdString();
    const auto& line = std::get<CommandLine>(result);
    EXPECT_EQ(line.mode, CommandLine::Mode::Headless);
    EXPECT_EQ(line.headless.deviceUid, "jack:system");
    EXPECT_EQ(line.headless.sampleRate, 96000.0);
    EXPECT_EQ(line.headless.bufferFrames, 128u);
    EXPECT_EQ(line.headless.seconds, 2.5);
    EXPECT_EQ(line.headless.reportPath, "-");
    EXPECT_EQ(line.headless.setupPath, "gig.json");
    EXPECT_EQ(line.headless.saveSetupPath, "after.json");
    // A setup alone is enough to run.
    EXPECT_TRUE(std::holds_alternative<CommandLine>(parse({"--headless", "--setup", "gig.json"})));
    EXPECT_EQ(errorOf(parse({"--headless"})), "--headless needs a --setup or at least one --strip");
    ASSERT_EQ(line.headless.strips.size(), 2u);
    EXPECT_EQ(line.headless.strips[0], (StripSpec{1, 1, false, 1, true, {}, false}));
    EXPECT_EQ(line.headless.strips[1], (StripSpec{3, 3, true, 5, false, "urn:x:gain", true}));
}
