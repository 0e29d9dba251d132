#include "tests/support/JackServer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

namespace corvane::test {

namespace {

using namespace std::chrono_literals;

std::string nextName() {
    static std::atomic<int> counter{0};
    return "corvane-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

// Spawns `args` with stdout and stderr appended to `logPath`; -1 on failure.
// The child gets SIGTERM when we die, so a test that crashes leaves no server behind.
pid_t spawnLogged(const std::vector<std::string>& args, const std::string& logPath) {
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    // Child of a threaded process: only async-signal-safe calls until exec.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent)
        ::_exit(1);
    const int in = ::open("/dev/null", O_RDONLY);
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in < 0 || log < 0)
        ::_exit(126);
    ::dup2(in, 0);
    ::dup2(log, 1);
    ::dup2(log, 2);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
}

// Non-blocking: true (and the status) once `pid` has exited and been reaped.
bool exited(pid_t pid, int* status = nullptr) {
    int local = 0;
    return ::waitpid(pid, status ? status : &local, WNOHANG) == pid;
}

} // namespace

JackServer::JackServer(Config config)
    : config_(config), name_(nextName()), logPath_(std::filesystem::temp_directory_path() / (name_ + ".log")) {
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

std::string JackServer::unusedName() { return nextName() + "-absent"; }

bool JackServer::start() {
    stop();
    killed_ = false;
    ::setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
    pid_ = spawnLogged({"jackd", "-n", name_, "-d", "dummy", "-r", std::to_string(config_.rate), "-p",
                        std::to_string(config_.frames), "-C", std::to_string(config_.inputs), "-P",
                        std::to_string(config_.outputs)},
                       logPath_);
    if (pid_ <= 0) {
        pid_ = -1;
        return false;
    }
    if (waitUntilReady())
        return true;
    stop();
    return false;
}

bool JackServer::waitUntilReady() {
    // jack_wait polls the server the way a client would; we watch both it and
    // jackd, so a server that dies while starting fails at once, not at the timeout.
    const pid_t waiter = spawnLogged({"jack_wait", "-w", "-s", name_, "-t", "10"}, logPath_);
    if (waiter <= 0)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (exited(waiter, &status)) {
            if (exited(pid_))
                pid_ = -1;
            return pid_ > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        if (exited(pid_)) {
            pid_ = -1;
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    ::kill(waiter, SIGKILL);
    ::waitpid(waiter, nullptr, 0);
    return false;
}

void JackServer::stop() { reap(SIGTERM); }

void JackServer::freeze(bool frozen) {
    if (pid_ > 0)
        ::kill(pid_, frozen ? SIGSTOP : SIGCONT);
}

void JackServer::kill() { reap(SIGKILL); }

void JackServer::reap(int signal) {
    if (pid_ > 0) {
        ::kill(pid_, SIGCONT); // a frozen server cannot act on the signal
        ::kill(pid_, signal);
        // jackd sometimes sits out SIGTERM while clients hang on; the grace is short.
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        bool gone = false;
        while (!(gone = exited(pid_)) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(5ms);
        if (!gone) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        killed_ = killed_ || signal == SIGKILL || !gone;
        pid_ = -1;
    }
    removeLeftovers();
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
