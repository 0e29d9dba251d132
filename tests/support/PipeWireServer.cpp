#include "tests/support/PipeWireServer.h"

#include "tests/support/ChildProcess.h"

#include <signal.h>

#include <QProcess>
#include <QSet>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <vector>

namespace corvane::test {

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// Debian's place for PipeWire's libjack; it is not on the loader's path unless asked for.
const QString kJackLibraryDir = QStringLiteral("/usr/lib/x86_64-linux-gnu/pipewire-0.3/jack");

} // namespace

PipeWireServer::PipeWireServer() : directory_(fs::temp_directory_path() / uniqueName("corvane-pw")) {}

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

    auto environment = toolEnvironment();
    // Root in CI has no XDG_RUNTIME_DIR, and a user's would lead to their own PipeWire.
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), QString::fromStdString(runtimeDir()));
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
    std::ofstream(directory_ + "/asound.conf")
        << R"(pcm.corvane_noise { type file slave.pcm "null" file "/dev/null" infile "/dev/urandom" format "raw" })"
        << "\n";

    // Both halves are described as "system": PipeWire's libjack shows them as one
    // client of that name whose ports are physical, like a real card's. The file
    // plugin asserts in its mmap path when the quantum changes, which aborts
    // PipeWire, so the card is read and written plainly. The PCM is quoted: a
    // bare null would be no path at all, and ALSA's first card instead.
    const auto card = [](const std::string& factory, const std::string& mediaClass, const std::string& pcm) {
        return "  { factory = adapter args = { factory.name = " + factory +
               " node.name = system node.description = system media.class = \"" + mediaClass +
               "\"\n      api.alsa.path = \"" + pcm + "\" api.alsa.disable-mmap = true" + R"(
      audio.format = S16LE audio.rate = 48000 audio.channels = 2 audio.position = [ FL FR ]
      node.suspend-on-idle = true resample.disable = true channelmix.disable = true
      adapter.auto-port-config = { mode = dsp monitor = false control = false position = unknown } } }
)";
    };
    std::ofstream config(directory_ + "/pipewire.conf");
    config << R"(context.properties = {
  core.daemon = true core.name = pipewire-0 link.max-buffers = 16
  default.clock.rate = 48000 default.clock.allowed-rates = [ 48000 ]
  default.clock.quantum = 1024 default.clock.min-quantum = 16 default.clock.max-quantum = 8192
  settings.check-quantum = true settings.check-rate = true
}
context.spa-libs = {
  audio.convert.* = audioconvert/libspa-audioconvert api.alsa.* = alsa/libspa-alsa support.* = support/libspa-support
}
context.modules = [
  { name = libpipewire-module-rt args = { nice.level = -11 } flags = [ ifexists nofail ] }
  { name = libpipewire-module-protocol-native } { name = libpipewire-module-metadata }
  { name = libpipewire-module-spa-node-factory } { name = libpipewire-module-client-node }
  { name = libpipewire-module-access } { name = libpipewire-module-adapter } { name = libpipewire-module-link-factory }
]
context.objects = [
  { factory = metadata args = { metadata.name = default } }
  # Clients not linked to the card still need something to drive them.
  { factory = spa-node-factory args = { factory.name = support.node.driver node.name = Dummy-Driver
      node.group = pipewire.dummy priority.driver = 20000 } }
  { factory = spa-node-factory args = { factory.name = support.node.driver node.name = Freewheel-Driver
      node.group = pipewire.freewheel priority.driver = 19000 node.freewheel = true } }
)";
    config << card("api.alsa.pcm.source", "Audio/Source", "corvane_noise")
           << card("api.alsa.pcm.sink", "Audio/Sink", "null") << "]\n";
}

bool PipeWireServer::waitUntilReady() {
    // The card's nodes come up one after the other: ready once all its ports are there.
    const auto socket = fs::path(runtimeDir()) / "pipewire-0";
    std::error_code ec;
    return waitWhileRunning(pid_, [&] { return fs::exists(socket, ec) && cardListed(); }, 10s);
}

bool PipeWireServer::cardListed() const {
    QProcess tool;
    tool.setProcessEnvironment(toolEnvironment());
    tool.start(QStringLiteral("pw-link"), {QStringLiteral("-io")});
    // Generous: on a loaded machine a tool alone has been seen to take two seconds.
    if (!tool.waitForFinished(10000)) {
        tool.kill();
        tool.waitForFinished(1000);
        return false;
    }
    const auto lines = QString::fromUtf8(tool.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QSet<QString> listed(lines.begin(), lines.end());
    for (const char* port : {"system:capture_1", "system:capture_2", "system:playback_1", "system:playback_2"})
        if (!listed.contains(QLatin1String(port)))
            return false;
    return true;
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
