#pragma once
// A private PipeWire daemon for tests, with a fake sound card that PipeWire's
// libjack shows as one client "system" with physical ports, like a real card:
// system:capture_1..N carry noise (or silence), system:playback_1..N discard.
// The card is ALSA's built-in null PCM, so no sound hardware, D-Bus or session
// manager is involved.
//
// Each server lives in a directory of its own under the temp dir (its socket,
// config and log), so neither a user's PipeWire nor another test's is reached.
// Clients find it only through clientEnvironment(): libjack is loaded once per
// process, and the test programs already carry jackd2's, so a PipeWire client
// must be a child process (see tests/integration/CorvaneProcess.h).
// The directory is removed unless the test failed; the log is in it.

#include <sys/types.h>

#include <QProcessEnvironment>

#include <cstdint>
#include <string>

namespace corvane::test {

class PipeWireServer {
public:
    enum class Source { Noise, Silence };
    struct Config {
        std::uint32_t quantum = 1024; // PipeWire's stock default, what a desktop user has
        std::uint32_t rate = 48000;
        std::uint32_t channels = 2; // capture and playback each
        Source source = Source::Noise;
    };

    explicit PipeWireServer(Config config);
    PipeWireServer() : PipeWireServer(Config{}) {}
    ~PipeWireServer();
    PipeWireServer(const PipeWireServer&) = delete;
    PipeWireServer& operator=(const PipeWireServer&) = delete;

    // Starts the daemon (again, after stop() or kill()) and returns once every
    // port of the fake card exists; false if it died or was not ready in time.
    bool start();
    // SIGTERM, then SIGKILL after a short grace; reaps it. Safe when not running.
    void stop();
    // SIGKILL at once, as if PipeWire crashed.
    void kill();
    // False also when the daemon has died by itself.
    bool running();

    // Our environment, pointed at this server through PipeWire's libjack.
    QProcessEnvironment clientEnvironment() const;

    // Forces the graph's quantum the way a user does (pw-metadata
    // clock.force-quantum): it holds until changed again, whoever asked for
    // what before, and clients' own jack_set_buffer_size requests are ignored
    // while it holds. 0 lifts the force, after which PipeWire may keep the
    // forced size until the graph changes. Clients learn of the change through
    // their buffer-size callback within about one period. True when accepted.
    bool forceQuantum(std::uint32_t frames);

    const Config& config() const { return config_; }
    const std::string& directory() const { return directory_; }
    std::string logPath() const { return directory_ + "/pipewire.log"; }

private:
    std::string runtimeDir() const { return directory_ + "/run"; }
    QProcessEnvironment toolEnvironment() const;
    void writeConfig() const;
    bool waitUntilReady();
    void reap(int signal);

    Config config_;
    std::string directory_;
    pid_t pid_ = -1;
};

} // namespace corvane::test
