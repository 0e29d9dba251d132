#include "app/CommandLine.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <sys/stat.h>
#include <tuple>
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
                         "1:in=1,out=1-2", "--strip", "3:in=3-4,out=5,bypass,plugin=urn:x:gain,b", "--seconds", "2.5",
                         "--report", "-", "--setup", "gig.json", "--save-setup", "after.json", "--isolated"});
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
    EXPECT_EQ(line.isolation, true);
    EXPECT_EQ(std::get<CommandLine>(parse({"--in-process"})).isolation, false); // the window too
    // A setup alone is enough to run.
    EXPECT_TRUE(std::holds_alternative<CommandLine>(parse({"--headless", "--setup", "gig.json"})));
    EXPECT_EQ(errorOf(parse({"--headless"})), "--headless needs a --setup or at least one --strip");
    ASSERT_EQ(line.headless.strips.size(), 2u);
    EXPECT_EQ(line.headless.strips[0], (StripSpec{1, 1, false, 1, true, {}, false}));
    EXPECT_EQ(line.headless.strips[1], (StripSpec{3, 3, true, 5, false, "urn:x:gain,b", true})); // a URI keeps its commas

    auto measure = parse({"--measure-latency", "--device", "hw:1", "--out", "2", "--in", "7", "--rate", "48000",
                          "--buffer", "64"});
    ASSERT_TRUE(std::holds_alternative<CommandLine>(measure)) << errorOf(measure).toStdString();
    const auto& m = std::get<CommandLine>(measure).measure;
    EXPECT_EQ(std::tuple(m.deviceUid, m.output, m.input, m.sampleRate, m.bufferFrames),
              std::tuple(QString("hw:1"), 2, 7, std::optional(48000u), std::optional(64u)));
}

TEST(CommandLine, EachMistakeIsNamedOnOneLineAndTheSetupIsNotSavedOverTheReport) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    auto run = [](QStringList more) { return QStringList{"--headless", "--strip", "1:in=1,out=1"} + more; };
    const struct {
        QStringList arguments;
        QString error; // how it starts
    } cases[] = {
        {run({"--seconds", "inf"}), "--seconds inf: the run time must be more than 0"},
        {run({"--seconds", "1e10"}), "--seconds 1e10: "},
        {run({"--seconds", "-1"}), "--seconds -1: "},
        {run({"--rate", "inf"}), "--rate inf: the sample rate must be a whole number of Hz from 8000 to 768000"},
        {run({"--rate", "1"}), "--rate 1: "},
        {run({"--rate", "1e9"}), "--rate 1e9: "},
        {run({"--rate", "44100.5"}), "--rate 44100.5: "},
        {run({"--buffer", "3"}), "--buffer 3: the buffer size must be a whole number of frames from 16 to 8192"},
        {run({"--buffer", "4294967295"}), "--buffer 4294967295: "},
        // One mode per run, each option once.
        {{"--list-devices", "--list-plugins"}, "--list-devices and --list-plugins cannot be combined: one mode per run"},
        {run({"--help"}), "--headless and --help cannot be combined"},
        {{"--seconds", "1"}, "--seconds goes with --headless (see --help)"},
        {run({"--seconds", "1", "--seconds", "2"}), "--seconds is given twice"},
        {run({"--strip", "2:in=1,in=2,out=1"}), "--strip 2:in=1,in=2,out=1: in= is given twice"},
        {run({"--strip", "2:in=1,out=1,bypass,bypass"}), "--strip 2:in=1,out=1,bypass,bypass: bypass is given twice"},
        // Strip texts.
        {run({"--strip", "2:"}), "--strip 2:: both in= and out= are needed"},
        {run({"--strip", "2:in=1,,out=1"}), "--strip 2:in=1,,out=1: a field between commas is empty"},
        {run({"--strip", " 2:in=1,out=1"}), "--strip  2:in=1,out=1: the strip number must be 1 to 8"},
        {run({"--strip", "+2:in=1,out=1"}), "--strip +2:in=1,out=1: the strip number must be 1 to 8"},
        {run({"--save-setup", fifo}), "--save-setup " + fifo + ": it is a pipe, not a file"},
        // A latency measurement names its device and both channels, and takes no run's options.
        {{"--measure-latency", "--device", "x", "--out", "1"}, "--measure-latency needs --device, --out and --in"},
        {{"--measure-latency", "--device", "x", "--out", "1", "--in", "0"}, "--in 0: a channel is a whole number from 1"},
        {{"--measure-latency", "--device", "x", "--out", "1", "--in", "2", "--seconds", "1"},
         "--seconds goes with --headless"},
        {run({"--out", "1"}), "--out goes with --measure-latency"},
        {run({"--isolated", "--in-process"}), "--in-process: where plug-ins run is given twice"},
        {{"--list-plugins", "--isolated"}, "--isolated goes with the window or --headless"},
    };
    for (const auto& c : cases) {
        const QString error = errorOf(parse(c.arguments));
        EXPECT_TRUE(error.startsWith(c.error)) << c.arguments.join(' ').toStdString() << " → " << error.toStdString();
    }

    // Control characters in an argument are shown escaped.
    EXPECT_EQ(errorOf(parse({"--bogus\n\t\x1b[2J\r"})).toStdString(),
              "--bogus\\n\\t\\u001b[2J\\r: unknown argument (see --help)");
    EXPECT_EQ(errorOf(parse({"--headless", "--strip", QString("1:in=1,out=1") + QChar(0x2028)})).toStdString(),
              "--strip 1:in=1,out=1\\u2028: out= takes a channel or a pair like 1-2");

    // The same file under two names: resolved, or linked.
    const QString report = dir.filePath("run.json");
    QFile(report).open(QIODevice::WriteOnly);
    const QString hardLink = dir.filePath("link.json");
    ASSERT_EQ(::link(QFile::encodeName(report).constData(), QFile::encodeName(hardLink).constData()), 0);
    auto both = [&](const QString& reportPath, const QString& setupPath) {
        return parse(run({"--report", reportPath, "--save-setup", setupPath}));
    };
    for (const QString& setup : {dir.path() + "/../" + QFileInfo(dir.path()).fileName() + "/run.json", hardLink})
        EXPECT_EQ(errorOf(both(report, setup)).toStdString(),
                  ("--report " + report + " and --save-setup " + setup + " name the same file: give each its own")
                      .toStdString());
    EXPECT_TRUE(std::holds_alternative<CommandLine>(both(report, dir.filePath("setup.json"))));
    EXPECT_TRUE(std::holds_alternative<CommandLine>(both("-", report)));
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
