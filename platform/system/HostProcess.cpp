#include "platform/system/HostProcess.h"

#include "platform/system/PipeTail.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

namespace corvane {

namespace {

// The parent-death signal is sent when the thread that forked the child ends,
// not the process: children are forked from this thread, which never ends.
class Spawner {
public:
    Spawner() : thread_([this] { serve(); }) { thread_.detach(); }

    void run(const std::function<void()>& job) {
        const std::lock_guard one(calls_);
        std::unique_lock lock(mutex_);
        job_ = &job;
        wake_.notify_all();
        wake_.wait(lock, [this] { return job_ == nullptr; });
    }

private:
    void serve() {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return job_ != nullptr; });
            (*job_)();
            job_ = nullptr;
            wake_.notify_all();
        }
    }

    std::mutex calls_;
    std::mutex mutex_;
    std::condition_variable wake_;
    const std::function<void()>* job_ = nullptr;
    std::thread thread_;
};

Spawner& spawner() {
    // A process forked from ours inherits the object but not its thread: it
    // makes its own. Neither is ever destroyed, as a detached thread serves it.
    static std::mutex mutex;
    static Spawner* current = nullptr;
    static pid_t owner = 0;
    const std::lock_guard lock(mutex);
    if (current == nullptr || owner != getpid()) {
        current = new Spawner;
        owner = getpid();
    }
    return *current;
}

std::string failure(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// After fork(), in the child: only async-signal-safe calls until exec.
[[noreturn]] void becomeChild(pid_t parent, const char* program, char* const* argv, int channel, int region,
                              int board, int errorOut, int report) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) // the parent went before the signal was armed
        _exit(127);
    // A group of its own: Ctrl-C at the terminal is ours to handle (a run ends
    // in order), not a signal that ends every helper at once.
    setpgid(0, 0);
    // Out of the way of the numbers they must end up on.
    if (report < 10)
        report = fcntl(report, F_DUPFD_CLOEXEC, 10);
    channel = fcntl(channel, F_DUPFD_CLOEXEC, 10);
    region = region >= 0 ? fcntl(region, F_DUPFD_CLOEXEC, 10) : -1;
    board = region >= 0 && board >= 0 ? fcntl(board, F_DUPFD_CLOEXEC, 10) : -1;
    errorOut = fcntl(errorOut, F_DUPFD_CLOEXEC, 10);
    const int nothing = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (channel < 0 || errorOut < 0 || nothing < 0 || dup2(nothing, 0) < 0 || dup2(nothing, 1) < 0
        || dup2(errorOut, 2) < 0 || dup2(channel, HostProcess::kChannelFd) < 0
        || (region >= 0 && dup2(region, HostProcess::kRegionFd) < 0)
        || (board >= 0 && dup2(board, HostProcess::kBoardFd) < 0)) {
        const int error = errno;
        (void)!write(report, &error, sizeof error);
        _exit(127);
    }
    // Whatever else we hold without close-on-exec is not the child's.
    // The report pipe stays until exec closes it.
    const unsigned first = board >= 0    ? HostProcess::kBoardFd + 1
                           : region >= 0 ? HostProcess::kRegionFd + 1
                                         : HostProcess::kChannelFd + 1;
    const auto kept = static_cast<unsigned>(report);
    if (kept < first) {
        close_range(first, ~0U, 0);
    } else {
        if (kept > first)
            close_range(first, kept - 1, 0);
        close_range(kept + 1, ~0U, 0);
    }
    sigset_t all;
    sigemptyset(&all);
    sigprocmask(SIG_SETMASK, &all, nullptr);
    execv(program, argv);
    const int error = errno;
    (void)!write(report, &error, sizeof error);
    _exit(127);
}

std::string describeEnd(const siginfo_t& info) {
    if (info.si_code == CLD_EXITED)
        return "exit status " + std::to_string(info.si_status);
    const char* name = sigabbrev_np(info.si_status);
    return name ? std::string("SIG") + name : "signal " + std::to_string(info.si_status);
}

} // namespace

std::unique_ptr<HostProcess> HostProcess::start(const std::string& program, const std::vector<std::string>& arguments,
                                                int regionFd, std::string& error, int boardFd) {
    std::vector<std::string> args{program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int channel[2] = {-1, -1};
    int errors[2] = {-1, -1};
    int report[2] = {-1, -1};
    auto closeAll = [&] {
        for (int fd : {channel[0], channel[1], errors[0], errors[1], report[0], report[1]})
            if (fd >= 0)
                close(fd);
    };
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, channel) != 0 || pipe2(errors, O_CLOEXEC) != 0
        || pipe2(report, O_CLOEXEC) != 0) {
        error = failure("cannot start " + program);
        closeAll();
        return nullptr;
    }

    pid_t pid = -1;
    int forkError = 0;
    const std::function<void()> job = [&] {
        const pid_t parent = getpid();
        pid = fork();
        if (pid == 0)
            becomeChild(parent, program.c_str(), argv.data(), channel[1], regionFd, boardFd, errors[1], report[1]);
        forkError = errno;
    };
    spawner().run(job);
    if (pid < 0) {
        errno = forkError;
        error = failure("cannot start " + program);
        closeAll();
        return nullptr;
    }

    auto process = std::unique_ptr<HostProcess>(new HostProcess);
    process->pid_ = pid;
    process->channel_ = channel[0];
    close(channel[1]);
    close(errors[1]);
    close(report[1]);
    process->errors_ = std::make_unique<PipeTail>(errors[0], kKeptErrorLines);
    int execError = 0;
    ssize_t got;
    do
        got = read(report[0], &execError, sizeof execError);
    while (got < 0 && errno == EINTR);
    close(report[0]);
    process->pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (got > 0 || process->pidfd_ < 0) {
        errno = got > 0 ? execError : errno;
        error = failure("cannot start " + program);
        return nullptr; // the destructor kills and reaps what did start
    }
    return process;
}

HostProcess::~HostProcess() {
    if (pid_ > 0 && !reaped_) {
        kill();
        siginfo_t info{};
        while (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED) != 0 && errno == EINTR) {
        }
    }
    errors_.reset();
    if (channel_ >= 0)
        close(channel_);
    if (pidfd_ >= 0)
        close(pidfd_);
}

bool HostProcess::hasEnded() {
    if (reaped_)
        return true;
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG) != 0 || info.si_pid == 0)
        return false;
    reaped_ = true;
    ending_ = describeEnd(info);
    return true;
}

bool HostProcess::waitForEnd(std::chrono::milliseconds limit) {
    if (reaped_)
        return true;
    pollfd fd{pidfd_, POLLIN, 0};
    const auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        const int ready = poll(&fd, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
        if (ready < 0 && errno == EINTR)
            continue;
        return hasEnded();
    }
}

void HostProcess::kill() {
    if (!reaped_ && pid_ > 0)
        ::kill(pid_, SIGKILL);
}

std::vector<std::string> HostProcess::lastErrorLines() const {
    return errors_ ? errors_->lines() : std::vector<std::string>{};
}

} // namespace corvane
