#include "tests/support/JackServer.h"

#include "tests/support/ChildProcess.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace corvane::test {

using namespace std::chrono_literals;

JackServer::JackServer(Config config)
    : config_(config), name_(uniqueName("corvane-test")),
      logPath_(std::filesystem::temp_directory_path() / (name_ + ".log")) {
    if (const char* current = std::getenv("JACK_DEFAULT_SERVER"))
        previousDefault_ = current;
}

JackServer::~JackServer() {
    stop();
    // A killed jackd keeps its place in the machine-wide registry of eight
    // servers until a server of the same name starts again: give it back, or a
    // few failed tests would leave the machine unable to start any jackd.
    if (killed_ && start())
        stop();
    // The log only matters when something went wrong.
    if (!::testing::Test::HasFailure()) {
        std::error_code ec;
        std::filesystem::remove(logPath_, ec);
    }
    if (previousDefault_)
        ::setenv("JACK_DEFAULT_SERVER", previousDefault_->c_str(), 1);
    else
        ::unsetenv("JACK_DEFAULT_SERVER");
}

std::string JackServer::unusedName() { return uniqueName("corvane-test") + "-absent"; }

bool JackServer::start() {
    stop();
    killed_ = false;
    ::setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    pid_ = spawnLogged({"jackd", "-n", name_, "-d", "dummy", "-r", std::to_string(config_.rate), "-p",
                        std::to_string(config_.frames), "-C", std::to_string(config_.inputs), "-P",
                        std::to_string(config_.outputs)},
                       logPath_);
    if (pid_ > 0 && waitUntilReady())
        return true;
    stop();
    return false;
}

bool JackServer::waitUntilReady() {
    // jack_wait polls the server the way a client would.
    const pid_t waiter = spawnLogged({"jack_wait", "-w", "-s", name_, "-t", "10"}, logPath_);
    int status = 0;
    if (waiter > 0 && !waitWhileRunning(pid_, [&] { return exited(waiter, &status); }, 10s)) {
        endChild(waiter, SIGKILL, 0ms);
        return false;
    }
    return waiter > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void JackServer::freeze(bool frozen) {
    if (pid_ > 0)
        ::kill(pid_, frozen ? SIGSTOP : SIGCONT);
}

void JackServer::reap(int signal) {
    if (pid_ > 0) {
        ::kill(pid_, SIGCONT); // a frozen server cannot act on the signal
        // jackd sometimes sits out SIGTERM while clients hang on; the grace is short.
        const bool gone = endChild(pid_, signal, 2s);
        killed_ = killed_ || signal == SIGKILL || !gone;
        pid_ = -1;
        if (signal == SIGKILL || !gone)
            dropMetadataIfNoServerRuns();
    }
    removeLeftovers();
}

namespace {

bool anyJackdRunning() {
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        if (comm && std::getline(comm, name) && name == "jackd")
            return true;
    }
    return false;
}

} // namespace

void JackServer::dropMetadataIfNoServerRuns() const {
    // jackd keeps port and client metadata in a database all servers of a user
    // share. A server killed while writing to it leaves it locked, and every
    // jackd started afterwards hangs at start-up. jackd creates it afresh when
    // it is missing; with no server running, nobody loses anything.
    if (anyJackdRunning())
        return;
    std::error_code ec;
    std::filesystem::remove_all("/dev/shm/jack_db-" + std::to_string(::getuid()), ec);
}

void JackServer::removeLeftovers() const {
    // The server's socket is jack_<name>_<uid>_<n>, its semaphores
    // jack_sem.<uid>_<name>_<client>; both only ever belong to this server.
    namespace fs = std::filesystem;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/dev/shm", ec)) {
        const std::string file = entry.path().filename().string();
        const bool socket = file.starts_with("jack_" + name_ + "_");
        const bool semaphore = file.starts_with("jack_sem.") && file.find("_" + name_ + "_") != std::string::npos;
        if (socket || semaphore)
            fs::remove(entry.path(), ec);
    }
}

} // namespace corvane::test
