#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace corvane::test {

namespace {

std::vector<char*> pointers(const std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (const auto& string : strings)
        result.push_back(const_cast<char*>(string.c_str()));
    result.push_back(nullptr);
    return result;
}

bool pollUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace

pid_t spawnLogged(const std::vector<std::string>& args, const std::string& logPath,
                  const std::vector<std::string>* environment) {
    // Everything the child needs is built before fork: a child of a threaded
    // process may only make async-signal-safe calls until exec.
    std::vector<char*> argv = pointers(args);
    std::vector<char*> envp = environment ? pointers(*environment) : std::vector<char*>{};

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid < 0 ? -1 : pid;
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
    if (environment)
        ::execvpe(argv[0], argv.data(), envp.data());
    else
        ::execvp(argv[0], argv.data());
    ::_exit(127);
}

bool exited(pid_t pid, int* status) {
    int local = 0;
    return ::waitpid(pid, status ? status : &local, WNOHANG) == pid;
}

bool endChild(pid_t pid, int signal, std::chrono::milliseconds grace) {
    ::kill(pid, signal);
    if (pollUntil([&] { return exited(pid); }, grace))
        return true;
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return false;
}

bool waitWhileRunning(pid_t& server, const std::function<bool()>& ready, std::chrono::milliseconds timeout) {
    bool died = false;
    const bool done = pollUntil([&] { return (died = exited(server)) || ready(); }, timeout);
    if (died)
        server = -1;
    return done && !died;
}

std::string uniqueName(const std::string& prefix) {
    static std::atomic<int> counter{0};
    return prefix + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

} // namespace corvane::test
