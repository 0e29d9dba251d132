#include "app/CommandLine.h"

#include "app/ConsoleLog.h"

#include "setup/FileTarget.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cmath>
#include <map>
#include <sys/stat.h>

namespace corvane {

namespace {

template <typename Parsed>
std::variant<Parsed, ParseError> oneLine(std::variant<Parsed, ParseError> result) {
    if (auto* error = std::get_if<ParseError>(&result))
        error->message = escapedLine(error->message);
    return result;
}

// A path as the file system resolves it: links and "." or ".." followed in
// the folder (and in the file, when it exists).
QString resolvedPath(const QString& path) {
    const QFileInfo file(path);
    if (const QString canonical = file.canonicalFilePath(); !canonical.isEmpty())
        return canonical;
    const QString folder = QFileInfo(file.absolutePath()).canonicalFilePath();
    return (folder.isEmpty() ? file.absolutePath() : folder) + QLatin1Char('/') + file.fileName();
}

// Whether two paths name one file: the same path once resolved, or the same
// file by its inode (a hard link).
bool sameFile(const QString& a, const QString& b) {
    if (resolvedPath(a) == resolvedPath(b))
        return true;
    struct stat first = {};
    struct stat second = {};
    return ::stat(QFile::encodeName(a).constData(), &first) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

// "A" or "A-B" with B = A + 1, channels from 1.
bool parseChannels(const QString& text, int& first, bool& stereo) {
    // Anchored whole: "$" alone would let a newline follow.
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("([0-9]{1,5})(?:-([0-9]{1,5}))?")));
    const auto match = pattern.match(text);
    if (!match.hasMatch())
        return false;
    first = match.captured(1).toInt();
    if (first < 1)
        return false;
    stereo = match.hasCaptured(2);
    return !stereo || match.captured(2).toInt() == first + 1;
}

ParseError stripError(const QString& text, const QString& why) {
    return ParseError{QStringLiteral("--strip %1: %2").arg(text, why)};
}

// A finite number with nothing around it; QString::toDouble alone would take
// "inf", "nan" and surrounding spaces.
std::optional<double> finiteNumber(const QString& text) {
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[0-9]+(\\.[0-9]*)?([eE][+-]?[0-9]+)?")));
    if (!pattern.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// The whole number `text` stands for, when it is one within [lo, hi].
std::optional<std::uint32_t> wholeNumberWithin(const QString& text, std::uint32_t lo, std::uint32_t hi) {
    const auto value = finiteNumber(text);
    if (!value || *value != std::floor(*value) || *value < lo || *value > hi)
        return std::nullopt;
    return static_cast<std::uint32_t>(*value);
}

std::variant<StripSpec, ParseError> readStripSpec(const QString& text) {
    StripSpec spec;
    static const QRegularExpression number(QStringLiteral("^([1-8]):"));
    const auto match = number.match(text);
    if (!match.hasMatch())
        return stripError(text, QStringLiteral("the strip number must be 1 to 8"));
    spec.strip = match.captured(1).toInt();
    QString rest = text.mid(match.capturedLength());
    bool haveIn = false;
    bool haveOut = false;
    bool havePlugin = false;
    auto once = [&](bool& seen, const QString& field) -> std::optional<ParseError> {
        if (std::exchange(seen, true))
            return stripError(text, QStringLiteral("%1 is given twice").arg(field));
        return std::nullopt;
    };
    while (!rest.isEmpty()) {
        QString part;
        if (rest.startsWith(QLatin1String("plugin="))) {
            part = rest; // the URI may hold commas: it takes the rest
            rest.clear();
        } else {
            const int comma = rest.indexOf(QLatin1Char(','));
            part = comma < 0 ? rest : rest.left(comma);
            rest = comma < 0 ? QString() : rest.mid(comma + 1);
            if (part.isEmpty() || (comma >= 0 && rest.isEmpty()))
                return stripError(text, QStringLiteral("a field between commas is empty"));
        }
        if (part.startsWith(QLatin1String("in="))) {
            if (auto twice = once(haveIn, QStringLiteral("in=")))
                return *twice;
            if (!parseChannels(part.mid(3), spec.input, spec.inputStereo))
                return stripError(text, QStringLiteral("in= takes a channel or a pair like 3-4"));
        } else if (part.startsWith(QLatin1String("out="))) {
            if (auto twice = once(haveOut, QStringLiteral("out=")))
                return *twice;
            if (!parseChannels(part.mid(4), spec.output, spec.outputStereo))
                return stripError(text, QStringLiteral("out= takes a channel or a pair like 1-2"));
        } else if (part.startsWith(QLatin1String("plugin="))) {
            if (auto twice = once(havePlugin, QStringLiteral("plugin=")))
                return *twice;
            spec.pluginUri = part.mid(7);
            if (spec.pluginUri.isEmpty())
                return stripError(text, QStringLiteral("plugin= needs a plug-in URI"));
        } else if (part == QLatin1String("bypass")) {
            if (auto twice = once(spec.bypass, QStringLiteral("bypass")))
                return *twice;
        } else {
            return stripError(text, QStringLiteral("unknown field “%1”").arg(part));
        }
    }
    if (!haveIn || !haveOut)
        return stripError(text, QStringLiteral("both in= and out= are needed"));
    return spec;
}

std::variant<CommandLine, ParseError> readCommandLine(const QStringList& arguments) {
    using Mode = CommandLine::Mode;
    static const std::map<QString, Mode> modes = {
        {QStringLiteral("--list-devices"), Mode::ListDevices}, {QStringLiteral("--list-plugins"), Mode::ListPlugins},
        {QStringLiteral("--headless"), Mode::Headless},        {QStringLiteral("--help"), Mode::Help},
        {QStringLiteral("--measure-latency"), Mode::MeasureLatency},
        {QStringLiteral("-h"), Mode::Help},                    {QStringLiteral("--version"), Mode::Version},
    };
    CommandLine line;
    auto& h = line.headless;
    QString modeArgument;
    QStringList headlessOnly; // options given that only make sense with --headless
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (auto mode = modes.find(arg); mode != modes.end()) {
            if (!modeArgument.isEmpty())
                return ParseError{QStringLiteral("%1 and %2 cannot be combined: one mode per run (see --help)")
                                      .arg(modeArgument, arg)};
            modeArgument = arg;
            line.mode = mode->second;
            continue;
        }
        if (arg == QLatin1String("--isolated") || arg == QLatin1String("--in-process")) {
            if (line.isolation)
                return ParseError{QStringLiteral("%1: where plug-ins run is given twice").arg(arg)};
            line.isolation = arg == QLatin1String("--isolated");
            continue;
        }
        static const QStringList withValue = {QStringLiteral("--device"),  QStringLiteral("--rate"),
                                              QStringLiteral("--buffer"),  QStringLiteral("--strip"),
                                              QStringLiteral("--seconds"), QStringLiteral("--report"),
                                              QStringLiteral("--setup"),   QStringLiteral("--save-setup"),
                                              QStringLiteral("--out"),     QStringLiteral("--in")};
        if (!withValue.contains(arg))
            return ParseError{QStringLiteral("%1: unknown argument (see --help)").arg(arg)};
        if (arg != QLatin1String("--strip") && headlessOnly.contains(arg))
            return ParseError{QStringLiteral("%1 is given twice").arg(arg)};
        headlessOnly.append(arg);
        if (i + 1 >= arguments.size())
            return ParseError{QStringLiteral("%1 needs a value (see --help)").arg(arg)};
        const QString v = arguments[++i];
        if (arg == QLatin1String("--device")) {
            if (v.isEmpty())
                return ParseError{QStringLiteral("--device needs a device uid (see --list-devices)")};
            h.deviceUid = v;
        } else if (arg == QLatin1String("--rate")) {
            h.sampleRate = wholeNumberWithin(v, HeadlessOptions::kMinRate, HeadlessOptions::kMaxRate);
            if (!h.sampleRate)
                return ParseError{QStringLiteral("--rate %1: the sample rate must be a whole number of Hz from %2 to %3")
                                      .arg(v)
                                      .arg(HeadlessOptions::kMinRate)
                                      .arg(HeadlessOptions::kMaxRate)};
        } else if (arg == QLatin1String("--buffer")) {
            h.bufferFrames = wholeNumberWithin(v, HeadlessOptions::kMinBufferFrames, HeadlessOptions::kMaxBufferFrames);
            if (!h.bufferFrames)
                return ParseError{QStringLiteral("--buffer %1: the buffer size must be a whole number of frames from %2 to %3")
                                      .arg(v)
                                      .arg(HeadlessOptions::kMinBufferFrames)
                                      .arg(HeadlessOptions::kMaxBufferFrames)};
        } else if (arg == QLatin1String("--strip")) {
            auto spec = readStripSpec(v);
            if (auto* error = std::get_if<ParseError>(&spec))
                return *error;
            const auto& s = std::get<StripSpec>(spec);
            for (const auto& other : h.strips)
                if (other.strip == s.strip)
                    return ParseError{QStringLiteral("--strip %1: strip %2 is given twice").arg(v).arg(s.strip)};
            h.strips.push_back(s);
        } else if (arg == QLatin1String("--seconds")) {
            h.seconds = finiteNumber(v);
            if (!h.seconds || !(*h.seconds > 0) || *h.seconds > HeadlessOptions::kMaxSeconds)
                return ParseError{QStringLiteral("--seconds %1: the run time must be more than 0 and at most %2 seconds "
                                                 "(leave it out to run until Ctrl-C)")
                                      .arg(v)
                                      .arg(qint64(HeadlessOptions::kMaxSeconds))};
        } else if (arg == QLatin1String("--report")) {
            if (v.isEmpty())
                return ParseError{QStringLiteral("--report needs a file name, or - for standard output")};
            h.reportPath = v;
        } else if (arg == QLatin1String("--setup")) {
            if (v.isEmpty())
                return ParseError{QStringLiteral("--setup needs a setup file")};
            h.setupPath = v;
        } else if (arg == QLatin1String("--save-setup")) {
            if (v.isEmpty())
                return ParseError{QStringLiteral("--save-setup needs a file name")};
            h.saveSetupPath = v;
        } else {
            auto& channel = arg == QLatin1String("--out") ? line.measure.output : line.measure.input;
            channel = int(wholeNumberWithin(v, 1, 1024).value_or(0));
            if (channel == 0)
                return ParseError{QStringLiteral("%1 %2: a channel is a whole number from 1").arg(arg, v)};
        }
    }
    if (line.mode == Mode::MeasureLatency) {
        static const QStringList measuring = {QStringLiteral("--device"), QStringLiteral("--rate"),
                                              QStringLiteral("--buffer"), QStringLiteral("--out"),
                                              QStringLiteral("--in")};
        for (const auto& given : headlessOnly)
            if (!measuring.contains(given))
                return ParseError{QStringLiteral("%1 goes with --headless (see --help)").arg(given)};
        if (h.deviceUid.isEmpty() || !line.measure.output || !line.measure.input)
            return ParseError{QStringLiteral("--measure-latency needs --device, --out and --in")};
        line.measure.deviceUid = h.deviceUid;
        line.measure.sampleRate = h.sampleRate;
        line.measure.bufferFrames = h.bufferFrames;
        return line;
    }
    if (line.isolation && line.mode != Mode::Window && line.mode != Mode::Headless)
        return ParseError{QStringLiteral("%1 goes with the window or --headless (see --help)")
                              .arg(*line.isolation ? QStringLiteral("--isolated") : QStringLiteral("--in-process"))};
    for (const auto* only : {"--out", "--in"})
        if (headlessOnly.contains(QLatin1String(only)))
            return ParseError{QStringLiteral("%1 goes with --measure-latency (see --help)").arg(QLatin1String(only))};
    if (!headlessOnly.isEmpty() && line.mode != Mode::Headless)
        return ParseError{QStringLiteral("%1 goes with --headless (see --help)").arg(headlessOnly.first())};
    if (line.mode == Mode::Headless && h.strips.empty() && h.setupPath.isEmpty())
        return ParseError{QStringLiteral("--headless needs a --setup or at least one --strip")};
    if (!h.saveSetupPath.isEmpty()) {
        // Found out now rather than when the run has ended.
        if (auto problem = fileTargetProblem(h.saveSetupPath, NonFileTarget::Refused))
            return ParseError{QStringLiteral("--save-setup %1: %2").arg(h.saveSetupPath, *problem)};
        // One file cannot hold both: the later write would replace the first.
        if (!h.reportPath.isEmpty() && h.reportPath != QLatin1String("-") && sameFile(h.reportPath, h.saveSetupPath))
            return ParseError{QStringLiteral("--report %1 and --save-setup %2 name the same file: give each its own")
                                  .arg(h.reportPath, h.saveSetupPath)};
    }
    return line;
}

} // namespace

std::variant<StripSpec, ParseError> parseStripSpec(const QString& text) { return oneLine(readStripSpec(text)); }

std::variant<CommandLine, ParseError> parseCommandLine(const QStringList& arguments) {
    return oneLine(readCommandLine(arguments));
}

QString usageText() {
    return QStringLiteral(
        "Usage: corvane [MODE] [options]\n"
        "Without arguments, corvane opens its window (on the built-in virtual device when\n"
        "no audio hardware or JACK server is found). The other modes run without a window.\n"
        "One mode per run:\n"
        "  (none)                open the window\n"
        "  --list-devices        print one line per audio device: uid, name, inputs, outputs\n"
        "  --list-plugins        print one line per effect plug-in: uri, name, manufacturer\n"
        "  --headless            run a routing without a window and report on it\n"
        "  --measure-latency     measure the round trip from one output back to one input\n"
        "  --help, -h            print this help\n"
        "  --version             print the version\n"
        "Options of --headless (each at most once, --strip once per strip):\n"
        "  --device UID          the device to play on (default: the first one --list-devices prints)\n"
        "  --rate HZ             sample rate, a whole number from 8000 to 768000\n"
        "  --buffer FRAMES       buffer size, 16 to 8192 frames (default: what the device runs now);\n"
        "                        a size the device does not offer runs at the nearest one it does\n"
        "  --strip N:in=A[-B],out=C[-D][,bypass][,plugin=URI]\n"
        "                        strip N (1-8) from input channel A (or the pair A-B) to output C\n"
        "                        (or C-D), through the plug-in URI; plugin= comes last\n"
        "  --seconds S           run for S seconds; without it, until Ctrl-C\n"
        "  --report FILE|-       write a JSON report of the run to FILE, or - for standard output\n"
        "  --setup FILE          run a saved setup (the window's File > Save Setup); --device,\n"
        "                        --rate, --buffer and --strip given as well override it\n"
        "  --save-setup FILE     save the run's setup, plug-in settings included, when it ends\n"
        "Options of the window and --headless:\n"
        "  --isolated            run each strip's plug-in in a process of its own: a plug-in\n"
        "                        that crashes or hangs silences only its strip\n"
        "  --in-process          run plug-ins inside corvane (the default; PluginIsolation=true\n"
        "                        in ~/.config/corvane/corvane.conf makes --isolated the default)\n"
        "Options of --measure-latency (connect the output to the input with a cable first):\n"
        "  --device UID --out N --in M [--rate HZ] [--buffer FRAMES]\n"
        "                        plays a test signal out of output N for about a second, three\n"
        "                        times, and prints as JSON the round trip back on input M\n"
        "                        against the latency estimate\n"
        "Exit status: 0 done, 1 failed (start, playback, output), 2 bad arguments,\n"
        "             128 + signal number when interrupted (130 Ctrl-C, 143 SIGTERM, 129 SIGHUP)\n");
}

} // namespace corvane
