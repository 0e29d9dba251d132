#include "app/CommandLine.h"

#include <QRegularExpression>

namespace corvane {

namespace {

// "A" or "A-B" with B = A + 1, channels from 1.
bool parseChannels(const QString& text, int& first, bool& stereo) {
    static const QRegularExpression pattern(QStringLiteral("^([0-9]{1,5})(?:-([0-9]{1,5}))?$"));
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

} // namespace

std::variant<StripSpec, ParseError> parseStripSpec(const QString& text) {
    StripSpec spec;
    const int colon = text.indexOf(QLatin1Char(':'));
    bool ok = false;
    spec.strip = colon > 0 ? text.left(colon).toInt(&ok) : 0;
    if (!ok || spec.strip < 1 || spec.strip > 8)
        return stripError(text, QStringLiteral("the strip number must be 1 to 8"));
    bool haveIn = false;
    bool haveOut = false;
    for (const QString& part : text.mid(colon + 1).split(QLatin1Char(','))) {
        if (part.startsWith(QLatin1String("in="))) {
            if (!parseChannels(part.mid(3), spec.input, spec.inputStereo))
                return stripError(text, QStringLiteral("in= takes a channel or a pair like 3-4"));
            haveIn = true;
        } else if (part.startsWith(QLatin1String("out="))) {
            if (!parseChannels(part.mid(4), spec.output, spec.outputStereo))
                return stripError(text, QStringLiteral("out= takes a channel or a pair like 1-2"));
            haveOut = true;
        } else if (part.startsWith(QLatin1String("plugin="))) {
            spec.pluginUri = part.mid(7);
            if (spec.pluginUri.isEmpty())
                return stripError(text, QStringLiteral("plugin= needs a plug-in URI"));
        } else if (part == QLatin1String("bypass")) {
            spec.bypass = true;
        } else {
            return stripError(text, QStringLiteral("unknown field “%1”").arg(part));
        }
    }
    if (!haveIn || !haveOut)
        return stripError(text, QStringLiteral("both in= and out= are needed"));
    return spec;
}

std::variant<CommandLine, ParseError> parseCommandLine(const QStringList& arguments) {
    CommandLine line;
    auto& h = line.headless;
    bool headlessOnly = false; // an option that only makes sense with --headless was given
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        auto value = [&](QString& out) -> bool {
            if (i + 1 >= arguments.size())
                return false;
            out = arguments[++i];
            return true;
        };
        QString v;
        if (arg == QLatin1String("--list-devices")) {
            line.mode = CommandLine::Mode::ListDevices;
        } else if (arg == QLatin1String("--list-plugins")) {
            line.mode = CommandLine::Mode::ListPlugins;
        } else if (arg == QLatin1String("--headless")) {
            line.mode = CommandLine::Mode::Headless;
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            line.mode = CommandLine::Mode::Help;
        } else if (arg == QLatin1String("--version")) {
            line.mode = CommandLine::Mode::Version;
        } else if (arg == QLatin1String("--device")) {
            if (!value(v) || v.isEmpty())
                return ParseError{QStringLiteral("--device needs a device uid")};
            h.deviceUid = v;
            headlessOnly = true;
        } else if (arg == QLatin1String("--rate")) {
            bool ok = false;
            const double rate = value(v) ? v.toDouble(&ok) : 0;
            if (!ok || !(rate > 0))
                return ParseError{QStringLiteral("--rate needs a sample rate in Hz, like 48000")};
            h.sampleRate = rate;
            headlessOnly = true;
        } else if (arg == QLatin1String("--buffer")) {
            bool ok = false;
            const uint frames = value(v) ? v.toUInt(&ok) : 0;
            if (!ok || frames == 0)
                return ParseError{QStringLiteral("--buffer needs a buffer size in frames, like 256")};
            h.bufferFrames = frames;
            headlessOnly = true;
        } else if (arg == QLatin1String("--strip")) {
            if (!value(v))
                return ParseError{QStringLiteral("--strip needs N:in=A,out=B")};
            auto spec = parseStripSpec(v);
            if (auto* error = std::get_if<ParseError>(&spec))
                return *error;
            const auto& s = std::get<StripSpec>(spec);
            for (const auto& other : h.strips)
                if (other.strip == s.strip)
                    return ParseError{QStringLiteral("--strip %1: strip %2 is given twice").arg(v).arg(s.strip)};
            h.strips.push_back(s);
            headlessOnly = true;
        } else if (arg == QLatin1String("--seconds")) {
            bool ok = false;
            const double seconds = value(v) ? v.toDouble(&ok) : 0;
            if (!ok || !(seconds > 0))
                return ParseError{QStringLiteral("--seconds needs a positive number of seconds")};
            h.seconds = seconds;
            headlessOnly = true;
        } else if (arg == QLatin1String("--report")) {
            if (!value(v) || v.isEmpty())
                return ParseError{QStringLiteral("--report needs a file name, or - for standard output")};
            h.reportPath = v;
            headlessOnly = true;
        } else {
            return ParseError{QStringLiteral("%1: unknown argument (see --help)").arg(arg)};
        }
    }
    if (headlessOnly && line.mode != CommandLine::Mode::Headless)
        return ParseError{QStringLiteral("--device, --rate, --buffer, --strip, --seconds and --report go with --headless")};
    if (line.mode == CommandLine::Mode::Headless && h.strips.empty())
        return ParseError{QStringLiteral("--headless needs at least one --strip")};
    return line;
}

QString usageText() {
    return QStringLiteral(
        "Usage: corvane [options]\n"
        "  (no options)          open the window\n"
        "  --list-devices        print one line per audio device: uid, name, inputs, outputs\n"
        "  --list-plugins        print one line per effect plug-in: uri, name, manufacturer\n"
        "  --headless            run a routing without a window and report on it:\n"
        "      [--device UID] [--rate HZ] [--buffer FRAMES]\n"
        "      --strip N:in=A[-B],out=C[-D][,plugin=URI][,bypass] ...   (strips 1-8, channels from 1)\n"
        "      [--seconds S] [--report FILE|-]\n"
        "  --version             print the version\n");
}

} // namespace corvane
