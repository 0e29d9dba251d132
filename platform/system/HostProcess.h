#pragma once
// A helper program run as a child that must never outlive us: it gets SIGKILL
// when the thread that started it ends (and so when we end, however we end),
// and is killed and reaped when this object goes. It talks to us through a
// socket pair and may be handed one more descriptor (a shared memory region);
// its standard error is kept, its last lines for the log when it fails, and
// its standard output goes nowhere (a chatty child must never block on it).
//
// Threads: start() from any thread but the real-time one (children are forked
// from a thread of our own that lives as long as the process, since the
// parent-death signal follows the forking thread); the rest from the thread
// that owns the object, except lastErrorLines() (any thread).

#include <sys/types.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

class PipeTail;

class HostProcess {
public:
    // Where the child finds what it is given.
    static constexpr int kChannelFd = 3;
    static constexpr int kRegionFd = 4;
    static constexpr int kBoardFd = 5; // memory shared with every helper, when given
    static constexpr std::size_t kKeptErrorLines = 20;

    // Runs `program` (a path) with `arguments` after its name; `regionFd`
    // (-1: none) becomes the child's kRegionFd, and `boardFd` (-1: none; only
    // with a region) its kBoardFd. Null with a reason in `error` when it
    // cannot be started.
    static std::unique_ptr<HostProcess> start(const std::string& program, const std::vector<std::string>& arguments,
                                              int regionFd, std::string& error, int boardFd = -1);
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    pid_t pid() const { return pid_; }
    // Our end of the socket pair (a stream socket).
    int channel() const { return channel_; }
    // Readable once the child has ended: a main loop watches it to learn of a death.
    int pidfd() const { return pidfd_; }

    // Non-blocking. True once the child has ended; it is then reaped.
    bool hasEnded();
    // Waits at most `limit` for the child to end.
    bool waitForEnd(std::chrono::milliseconds limit);
    // Sends SIGKILL unless it has already been reaped.
    void kill();
    // How it ended ("SIGSEGV", "exit status 3"); empty while it runs.
    const std::string& howItEnded() const { return ending_; }
    // The last lines it wrote to standard error, oldest first. What it wrote
    // just before it ended may take a moment to arrive after its end.
    std::vector<std::string> lastErrorLines() const;

private:
    HostProcess() = default;

    pid_t pid_ = -1;
    int pidfd_ = -1;
    int channel_ = -1;
    bool reaped_ = false;
    std::string ending_;
    std::unique_ptr<PipeTail> errors_;
};

} // namespace corvane
