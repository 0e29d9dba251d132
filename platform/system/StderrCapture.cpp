#include "platform/system/StderrCapture.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace corvane {

namespace {

// Written to the pipe when a window closes, so the closing thread can wait
// until the reader has seen everything written before it. Diagnostics are
// text and never hold it.
constexpr char kWindowEnd = '\0';

// How long closing waits for the reader; lines it has not read by then go on
// to the real stderr unclaimed.
constexpr std::chrono::seconds kReaderPatience{2};

struct Shared {
    std::mutex mutex;
    std::condition_variable changed; // the reader saw a window's end, or a window finished closing
    int depth = 0;           // captures alive
    bool windowOpen = false; // fd 2 is the pipe
    bool closing = false;    // a window's end is on its way through the pipe
    int realFd = -1;         // what fd 2 was before the window; -1 outside one
    int pipeRead = -1;
    int pipeWrite = -1;
    StderrCapture::Claim claim = nullptr;
    StderrCapture::Emit deliver = nullptr;
    std::vector<std::string> claimed;
    std::uint64_t endsWritten = 0;
    std::uint64_t endsRead = 0;
};

// Never destroyed: the reader thread blocks on the pipe until the process ends.
Shared& shared() {
    static Shared* state = new Shared;
    return *state;
}

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void takeLine(Shared& s, std::string& line) {
    std::lock_guard lock(s.mutex);
    if (s.claim && s.claim(line)) {
        s.claimed.push_back(line);
    } else {
        // Outside a window fd 2 is the real stream again (a child that
        // inherited the pipe may still write to it).
        line.push_back('\n');
        writeAll(s.realFd >= 0 ? s.realFd : STDERR_FILENO, line.data(), line.size());
    }
    line.clear();
}

void readLines(Shared& s, int fd) {
    std::string line;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        for (ssize_t i = 0; i < n; ++i) {
            const char c = buffer[i];
            if (c == '\n') {
                takeLine(s, line);
            } else if (c == kWindowEnd) {
                if (!line.empty())
                    takeLine(s, line);
                std::lock_guard lock(s.mutex);
                ++s.endsRead;
                s.changed.notify_all();
            } else {
                line.push_back(c);
            }
        }
    }
}

// The pipe and its reader, made once. The caller holds the mutex.
bool ensurePipe(Shared& s) {
    if (s.pipeWrite >= 0)
        return true;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    try {
        std::thread(readLines, std::ref(s), fds[0]).detach();
    } catch (const std::system_error&) {
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    s.pipeRead = fds[0];
    s.pipeWrite = fds[1];
    return true;
}

} // namespace

StderrCapture::StderrCapture(Claim claim, Emit deliver) {
    Shared& s = shared();
    std::fflush(stderr); // in case someone buffers it: what is in it was written before
    std::unique_lock lock(s.mutex);
    s.changed.wait(lock, [&] { return !s.closing; });
    if (s.depth++ > 0 || !ensurePipe(s))
        return;
    s.realFd = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (s.realFd < 0)
        return; // no stderr to take over
    if (::dup2(s.pipeWrite, STDERR_FILENO) < 0) {
        ::close(s.realFd);
        s.realFd = -1;
        return;
    }
    s.windowOpen = true;
    s.claim = claim;
    s.deliver = deliver;
}

StderrCapture::~StderrCapture() {
    Shared& s = shared();
    std::fflush(stderr);
    std::unique_lock lock(s.mutex);
    if (--s.depth > 0 || !s.windowOpen)
        return;
    ::dup2(s.realFd, STDERR_FILENO);
    s.windowOpen = false;
    s.closing = true; // no window opens until this one's lines are dealt with
    const std::uint64_t end = ++s.endsWritten;
    // Unlocked: with the pipe full, the write waits for the reader, which may
    // be waiting for the lock.
    lock.unlock();
    writeAll(s.pipeWrite, &kWindowEnd, 1);
    lock.lock();
    s.changed.wait_for(lock, kReaderPatience, [&] { return s.endsRead >= end; });
    // Whatever the reader has not seen by now goes on to fd 2 unclaimed.
    ::close(s.realFd);
    s.realFd = -1;
    s.claim = nullptr;
    const Emit deliver = s.deliver;
    std::vector<std::string> lines;
    lines.swap(s.claimed);
    s.closing = false;
    s.changed.notify_all();
    lock.unlock();
    for (const std::string& line : lines)
        deliver(line);
}

void StderrCapture::writeToStderr(std::string_view text) {
    Shared& s = shared();
    std::lock_guard lock(s.mutex);
    writeAll(s.windowOpen && s.realFd >= 0 ? s.realFd : STDERR_FILENO, text.data(), text.size());
}

StderrCapture::Pause::Pause() {
    Shared& s = shared();
    std::fflush(stderr);
    std::lock_guard lock(s.mutex);
    if (s.windowOpen && s.realFd >= 0)
        paused_ = ::dup2(s.realFd, STDERR_FILENO) >= 0;
}

StderrCapture::Pause::~Pause() {
    if (!paused_)
        return;
    Shared& s = shared();
    std::fflush(stderr);
    std::lock_guard lock(s.mutex);
    if (s.windowOpen)
        ::dup2(s.pipeWrite, STDERR_FILENO);
}

} // namespace corvane
