#pragma once
// The command-line face of the application: what was asked for, parsed from
// the arguments. Parsing never exits; a bad argument is reported as an error
// naming it, in one line (control characters in it shown escaped, as "\n").
// One mode per run, each option at most once. The file system is looked at
// only for --save-setup: a path that cannot take the setup, or that is the
// --report's file too, is refused before anything runs.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

namespace corvane {

struct StripSpec {
    int strip = 0;        // 1-based, as the window numbers strips
    int input = 0;        // 1-based first channel
    bool inputStereo = false;
    int output = 0;
    bool outputStereo = false;
    QString pluginUri;    // empty: straight through
    bool bypass = false;
    friend bool operator==(const StripSpec&, const StripSpec&) = default;
};

struct HeadlessOptions {
    // What the numbers may be: rates in whole Hz, buffers in frames, a run at
    // most about 31 years (its end must stay countable in nanoseconds).
    static constexpr std::uint32_t kMinRate = 8000;
    static constexpr std::uint32_t kMaxRate = 768000;
    static constexpr std::uint32_t kMinBufferFrames = 16;
    static constexpr std::uint32_t kMaxBufferFrames = 8192;
    static constexpr double kMaxSeconds = 1e9;

    QString deviceUid; // empty: the first listed device
    std::optional<std::uint32_t> sampleRate;
    std::optional<std::uint32_t> bufferFrames;
    std::vector<StripSpec> strips;
    std::optional<double> seconds; // none: until interrupted
    QString reportPath;            // "-" for standard output; empty for none
    // A saved setup to run (the options above override it), and where to
    // save the run's setup at its end; empty for none.
    QString setupPath;
    QString saveSetupPath;
    // Each plug-in in a host process of its own (the command line or the
    // settings decide, before the run).
    bool isolated = false;
};

// --measure-latency: --device, --out and --in are needed; --rate and --buffer
// as with --headless (read into `headless`, copied here).
struct MeasureOptions {
    QString deviceUid;
    int output = 0; // 1-based channels
    int input = 0;
    std::optional<std::uint32_t> sampleRate;
    std::optional<std::uint32_t> bufferFrames;
};

struct CommandLine {
    enum class Mode { Window, ListDevices, ListPlugins, Headless, MeasureLatency, Help, Version };
    Mode mode = Mode::Window;
    HeadlessOptions headless;
    MeasureOptions measure;
    // --isolated or --in-process, for the window and --headless; none: as
    // the settings say.
    std::optional<bool> isolation;
};

struct ParseError {
    QString message;
};

std::variant<CommandLine, ParseError> parseCommandLine(const QStringList& arguments);

// "N:in=A[-B],out=C[-D][,bypass][,plugin=URI]"; plugin= takes the rest of the
// text, commas included, so it comes last.
std::variant<StripSpec, ParseError> parseStripSpec(const QString& text);

QString usageText();

} // namespace corvane
