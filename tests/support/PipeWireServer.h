#pragma once
// A private PipeWire daemon for tests at 48 kHz and PipeWire's stock quantum of
// 1024 (what a desktop user has), with a fake stereo card that PipeWire's
// libjack shows as one client "system" with physical ports, like a real card:
// system:capture_1..2 carry noise, system:playback_1..2 discard.
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

#include <string>

namespace corvane::test {

class PipeWireServer {
public:
    PipeWireServer();
    ~PipeWireServer();
    PipeWireServer(const PipeWireServer&) = delete;
    PipeWireServer& operator=(const PipeWireServer&) = delete;

    // Starts the daemon (again, after stop()) and returns once every
    // port of the fake card exists; false if it died or was not ready in time.
    bool start();
    // SIGTERM, then SIGKILL after a short grace; reaps it. Safe when not running.
    void stop();

    // Our environment, pointed at this server through PipeWire's libjack.
    QProcessEnvironment clientEnvironment() const;

    std::string logPath() const { return directory_ + "/pipewire.log"; }

private:
    std::string runtimeDir() const { return directory_ + "/run"; }
    QProcessEnvironment toolEnvironment() const;
    void writeConfig() const;
    bool waitUntilReady();
    bool cardListed() const;

    std::string directory_;
    pid_t pid_ = -1;
};

} // namespace corvane::test
