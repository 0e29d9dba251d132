#include "app/CommandLine.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <random>
#include <unistd.h>

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

TEST(CommandLine, ErrorsAreOneLineAndTheSetupIsNotSavedOverTheReport) {
    // Control characters in an argument are shown escaped.
    EXPECT_EQ(errorOf(parse({"--bogus\n\t\x1b[2J\r"})).toStdString(),
              "--bogus\\n\\t\\u001b[2J\\r: unknown argument (see --help)");
    EXPECT_EQ(errorOf(parse({"--headless", "--strip", QString("1:in=1,out=1") + QChar(0x2028)})).toStdString(),
              "--strip 1:in=1,out=1\\u2028: out= takes a channel or a pair like 1-2");

    // The same file under two names: resolved, or linked.
    QTemporaryDir dir;
    const QString report = dir.filePath("run.json");
    QFile(report).open(QIODevice::WriteOnly);
    const QString hardLink = dir.filePath("link.json");
    ASSERT_EQ(::link(QFile::encodeName(report).constData(), QFile::encodeName(hardLink).constData()), 0);
    auto run = [&](const QString& reportPath, const QString& setupPath) {
        return parse({"--headless", "--strip", "1:in=1,out=1", "--report", reportPath, "--save-setup", setupPath});
    };
    for (const QString& setup : {dir.path() + "/../" + QFileInfo(dir.path()).fileName() + "/run.json", hardLink})
        EXPECT_EQ(errorOf(run(report, setup)).toStdString(),
                  ("--report " + report + " and --save-setup " + setup + " name the same file: give each its own")
                      .toStdString());
    EXPECT_TRUE(std::holds_alternative<CommandLine>(run(report, dir.filePath("setup.json"))));
    EXPECT_TRUE(std::holds_alternative<CommandLine>(run("-", report)));
}

TEST(CommandLine, RandomArgumentsEndInACommandLineOrOneLineOfError) {
    const QStringList words = {
        "--headless", "--list-devices", "--list-plugins", "--help", "-h", "--version", "--device", "--rate",
        "--buffer", "--strip", "--seconds", "--report", "--setup", "--save-setup", "-", "", "--", "--strip=1", "48000",
        "44100.5", "1e9", "inf", "nan", "-1", "0", "256", "8192", "1:in=1,out=1", "8:in=7-8,out=1-2,bypass,plugin=urn:x,y",
        "9:in=1,out=1", "1:in=1,in=2,out=1", "2:", "jack:system", "a\nb", "\t", QString(QChar(0x2028)), "\x1b[2J",
        "/dev/null", "/dev/zero", "/nowhere/x.json", ".", QString(100000, '9')};
    std::mt19937 random(7);
    auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    for (int i = 0; i < 2000; ++i) {
        QStringList arguments{"corvane"};
        for (int n = below(8); n > 0; --n) {
            if (below(4) != 0) {
                arguments << words[below(int(words.size()))];
                continue;
            }
            QString noise;
            for (int c = below(12); c > 0; --c)
                noise += QChar(char16_t(below(0x3000)));
            arguments << noise;
        }
        std::variant<CommandLine, ParseError> result;
        ASSERT_NO_THROW(result = parseCommandLine(arguments)) << arguments.join(' ').toStdString();
        if (const auto* error = std::get_if<ParseError>(&result)) {
            EXPECT_FALSE(error->message.isEmpty());
            for (const QChar c : error->message)
                ASSERT_TRUE(c.category() != QChar::Other_Control && c.category() != QChar::Separator_Line &&
                            c.category() != QChar::Separator_Paragraph)
                    << error->message.toStdString();
        }
    }
}
