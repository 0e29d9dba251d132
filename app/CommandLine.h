#pragma once
// The command-line face of the application: what was asked for, parsed from
// the arguments. Parsing never exits; a bad argument is reported as an error
// naming it.

#include <QString>
#include <QStringList>
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
    QString deviceUid; // empty: the first listed device
    std::optional<double> sampleRate;
    std::optional<std::uint32_t> bufferFrames;
    std::vector<StripSpec> strips;
    std::optional<double> seconds; // none: until interrupted
    QString reportPath;            // "-" for standard output; empty for none
};

struct CommandLine {
    enum class Mode { Window, ListDevices, ListPlugins, Headless, Help, Version };
    Mode mode = Mode::Window;
    HeadlessOptions headless;
};

struct ParseError {
    QString message;
};

std::variant<CommandLine, ParseError> parseCommandLine(const QStringList& arguments);

// "N:in=A[-B],out=C[-D][,plugin=URI][,bypass]"
std::variant<StripSpec, ParseError> parseStripSpec(const QString& text);

QString usageText();

} // namespace corvane
