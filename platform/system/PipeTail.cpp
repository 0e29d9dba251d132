#include "platform/system/PipeTail.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace corvane {

PipeTail::PipeTail(int readFd, std::size_t lines, std::size_t lineLength)
    : fd_(readFd), stop_(eventfd(0, EFD_CLOEXEC)), keep_(lines), lineLength_(lineLength),
      thread_([this] { read(); }) {}

PipeTail::~PipeTail() {
    const std::uint64_t one = 1;
    if (stop_ >= 0)
        (void)!write(stop_, &one, sizeof one);
    thread_.join();
    close(fd_);
    if (stop_ >= 0)
        close(stop_);
}

std::vector<std::string> PipeTail::lines() const {
    const std::lock_guard lock(mutex_);
    std::vector<std::string> result(lines_.begin(), lines_.end());
    if (!partial_.empty())
        result.push_back(partial_);
    return result;
}

void PipeTail::read() {
    char buffer[4096];
    for (;;) {
        pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_, POLLIN, 0}};
        if (poll(fds, stop_ >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return; // every writer has gone
        take(buffer, static_cast<std::size_t>(got));
    }
}

void PipeTail::take(const char* data, std::size_t size) {
    const std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] != '\n') {
            if (partial_.size() < lineLength_)
                partial_.push_back(data[i]);
            continue;
        }
        lines_.push_back(std::move(partial_));
        partial_.clear();
        if (lines_.size() > keep_)
            lines_.pop_front();
    }
}

} // namespace corvane
