#pragma once
// A private jackd (dummy driver) for tests. Each server gets a name of its own
// ("corvane-test-<pid>-<n>"), so a user's server is never reached or touched:
// start() points JACK_DEFAULT_SERVER at ours, and stop()/kill() signal only the
// process we spawned. jackd's chatter (the dummy driver logs every xrun) goes to
// logPath(), not the test output; the log is removed unless the test failed.

#include <signal.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace corvane::test {

class JackServer {
public:
    struct Config {
        std::uint32_t rate = 48000;
        std::uint32_t frames = 256; // period size; 256 keeps the dummy driver's xruns rare
        std::uint32_t inputs = 2;   // system:capture_1..
        std::uint32_t outputs = 2;  // system:playback_1..
    };

    explicit JackServer(Config config);
    JackServer() : JackServer(Config{}) {}
    // Stops the server if it runs and restores JACK_DEFAULT_SERVER.
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    // Starts jackd (again, under the same name, after stop() or kill()) and
    // returns once clients can connect; false if it died or was not ready in
    // time. Sets JACK_DEFAULT_SERVER to our name either way.
    bool start();
    // SIGTERM, then SIGKILL after a short grace; reaps it and removes what it
    // left in /dev/shm. Safe when not running.
    void stop() { reap(SIGTERM); }
    // SIGKILL at once, as if it crashed; then the same clean-up as stop().
    void kill() { reap(SIGKILL); }
    // SIGSTOP / SIGCONT: a server that hangs, and one that comes back.
    void freeze(bool frozen);

    const std::string& name() const { return name_; }
    const std::string& logPath() const { return logPath_; }

    // A server name no server of ours uses, for "no server at all" cases.
    static std::string unusedName();

private:
    bool waitUntilReady();
    void reap(int signal);
    void removeLeftovers() const;
    void dropMetadataIfNoServerRuns() const;

    Config config_;
    std::string name_;
    std::string logPath_;
    pid_t pid_ = -1;
    bool killed_ = false; // the last stop was not clean (see the destructor)
    std::optional<std::string> previousDefault_;
};

} // namespace corvane::test
