#include "tests/support/PipeWireServer.h"

#include "tests/support/ChildProcess.h"

#include <signal.h>
#include <unistd.h>

#include <QProcess>
#include <QSet>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>
#include <vector>

namespace corvane::test {

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Debian's place for PipeWire's libjack; it is not on the loader's path unless asked for.
const QString kJackLibraryDir = QStringLiteral("/usr/lib/x86_64-linux-gnu/pipewire-0.3/jack");

std::string nextDirectory() {
    static std::atomic<int> counter{0};
    return (fs::temp_directory_path() /
            ("corvane-pw-" + std::to_string(::getpid()) + "-" + std::to_string(counter++)))
        .string();
}

// Runs a PipeWire tool to its end; its standard output, or nothing when it failed.
std::optional<QString> runTool(const QString& program, const QStringList& arguments,
                               const QProcessEnvironment& environment) {
    QProcess tool;
    tool.setProcessEnvironment(environment);
    tool.setProgram(program);
    tool.setArguments(arguments);
    tool.start();
    // Generous: on a loaded machine a tool alone has been seen to take two seconds.
    if (!tool.waitForFinished(10000)) {
        tool.kill();
        tool.waitForFinished(1000);
        return std::nullopt;
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(tool.readAllStandardOutput());
}

} // namespace

PipeWireServer::PipeWireServer() : directory_(nextDirectory()) {}

PipeWireServer::~PipeWireServer() {
    stop();
    // The log and the config only matter when something went wrong.
    if (!::testing::Test::HasFailure()) {
        std::error_code ec;
        fs::remove_all(directory_, ec);
    }
}

bool PipeWireServer::start() {
    stop();
    std::error_code ec;
    fs::create_directories(runtimeDir(), ec);
    fs::permissions(runtimeDir(), fs::perms::owner_all, ec);
    writeConfig();

    auto environment = QProcessEnvironment::systemEnvironment();
    // Root in CI has no XDG_RUNTIME_DIR, and a user's would lead to their own PipeWire.
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtimeDir()));
    environment.insert(QStringLiteral("PIPEWIRE_RUNTIME_DIR"), QString::fromStdString(runtimeDir()));
    environment.insert(QStringLiteral("ALSA_CONFIG_PATH"),
                       QStringLiteral("/usr/share/alsa/alsa.conf:") + QString::fromStdString(directory_ + "/asound.conf"));
    std::vector<std::string> entries;
    for (const QString& entry : environment.toStringList())
        entries.push_back(entry.toStdString());

    pid_ = spawnLogged({"pipewire", "-c", directory_ + "/pipewire.conf"}, logPath(), &entries);
    if (pid_ > 0 && waitUntilReady())
        return true;
    stop();
    return false;
}

void PipeWireServer::writeConfig() const {
    // ALSA's file plugin turns the null PCM's capture into whatever it reads.
    std::ofstream(directory_ + "/asound.conf") << "pcm.corvane_noise {\n"
                                                  "  type file\n"
                                                  "  slave.pcm \"null\"\n"
                                                  "  file \"/dev/null\"\n"
                                                  "  infile \"/dev/urandom\"\n"
                                                  "  format \"raw\"\n"
                                                  "}\n";

    const std::string format = "audio.format = S16LE audio.rate = 48000 audio.channels = 2 audio.position = [ FL FR ]";
    // Both halves are described as "system": PipeWire's libjack shows them as one
    // client of that name whose ports are physical, like a real card's. The file
    // plugin asserts in its mmap path when the quantum changes, which aborts
    // PipeWire, so the card is read and written plainly.
    const auto card = [&](const std::string& factory, const std::string& mediaClass, const std::string& pcm) {
        return "  { factory = adapter args = { factory.name = " + factory +
               " node.name = system node.description = system media.class = \"" + mediaClass +
               // Quoted: a bare null would be no path at all, and ALSA's first card instead.
               "\"\n      api.alsa.path = \"" + pcm + "\" api.alsa.disable-mmap = true " + format +
               "\n      node.suspend-on-idle = true resample.disable = true channelmix.disable = true"
               "\n      adapter.auto-port-config = { mode = dsp monitor = false control = false position = unknown } } }\n";
    };

    std::ofstream config(directory_ + "/pipewire.conf");
    config << "context.properties = {\n"
           << "  core.daemon = true\n"
           << "  core.name = pipewire-0\n"
           << "  link.max-buffers = 16\n"
           << "  default.clock.rate = 48000\n"
           << "  default.clock.allowed-rates = [ 48000 ]\n"
           << "  default.clock.quantum = 1024\n"
           << "  default.clock.min-quantum = 16\n"
           << "  default.clock.max-quantum = 8192\n"
           << "  settings.check-quantum = true\n"
           << "  settings.check-rate = true\n"
           << "}\n";
    config << "context.spa-libs = {\n"
           << "  audio.convert.* = audioconvert/libspa-audioconvert\n"
           << "  api.alsa.* = alsa/libspa-alsa\n"
           << "  support.* = support/libspa-support\n"
           << "}\n";
    config << "context.modules = [\n";
    config << "  { name = libpipewire-module-rt args = { nice.level = -11 } flags = [ ifexists nofail ] }\n";
    for (const char* module : {"protocol-native", "metadata", "spa-node-factory", "client-node", "access", "adapter",
                               "link-factory"})
        config << "  { name = libpipewire-module-" << module << " }\n";
    config << "]\n";
    config << "context.objects = [\n"
           << "  { factory = metadata args = { metadata.name = default } }\n"
           // Clients not linked to the card still need something to drive them.
           << "  { factory = spa-node-factory args = { factory.name = support.node.driver node.name = Dummy-Driver"
           << " node.group = pipewire.dummy priority.driver = 20000 } }\n"
           << "  { factory = spa-node-factory args = { factory.name = support.node.driver node.name = Freewheel-Driver"
           << " node.group = pipewire.freewheel priority.driver = 19000 node.freewheel = true } }\n"
           << card("api.alsa.pcm.source", "Audio/Source", "corvane_noise")
           << card("api.alsa.pcm.sink", "Audio/Sink", "null") << "]\n";
}

bool PipeWireServer::waitUntilReady() {
    QSet<QString> expected{QStringLiteral("system:capture_1"), QStringLiteral("system:capture_2"),
                           QStringLiteral("system:playback_1"), QStringLiteral("system:playback_2")};
    const auto socket = fs::path(runtimeDir()) / "pipewire-0";
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (exited(pid_)) {
            pid_ = -1;
            return false;
        }
        // The card's nodes come up one after the other: ready once all ports are there.
        std::error_code ec;
        if (fs::exists(socket, ec)) {
            const auto ports = runTool(QStringLiteral("pw-link"), {QStringLiteral("-io")}, toolEnvironment());
            if (ports) {
                const auto lines = ports->split(QLatin1Char('\n'), Qt::SkipEmptyParts);
                auto missing = expected;
                if (missing.subtract(QSet<QString>(lines.begin(), lines.end())).isEmpty())
                    return true;
            }
        }
        std::this_thread::sleep_for(20ms);
    }
    return false;
}

void PipeWireServer::stop() {
    if (pid_ > 0) {
        endChild(pid_, SIGTERM, 2s);
        pid_ = -1;
    }
    // A killed daemon leaves its socket behind; clients would try it in vain.
    std::error_code ec;
    fs::remove(fs::path(runtimeDir()) / "pipewire-0", ec);
    fs::remove(fs::path(runtimeDir()) / "pipewire-0.lock", ec);
}

QProcessEnvironment PipeWireServer::toolEnvironment() const {
    auto environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PIPEWIRE_RUNTIME_DIR"), QString::fromStdString(runtimeDir()));
    // Would name another server's socket, or ask every client for another quantum.
    for (const char* name : {"PIPEWIRE_REMOTE", "PIPEWIRE_LATENCY", "PIPEWIRE_QUANTUM"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

QProcessEnvironment PipeWireServer::clientEnvironment() const {
    auto environment = toolEnvironment();
    const QString libraryPath = environment.value(QStringLiteral("LD_LIBRARY_PATH"));
    environment.insert(QStringLiteral("LD_LIBRARY_PATH"),
                       libraryPath.isEmpty() ? kJackLibraryDir : kJackLibraryDir + QLatin1Char(':') + libraryPath);
    // PipeWire's libjack ignores it; a test's jackd must not be what it points at.
    environment.remove(QStringLiteral("JACK_DEFAULT_SERVER"));
    return environment;
}

} // namespace corvane::test
