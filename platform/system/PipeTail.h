#pragma once
// Keeps the last lines written into a pipe, read on a thread of its own so
// that the writer never blocks on a full pipe. For a child's standard error,
// whose last words explain its end.

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace corvane {

class PipeTail {
public:
    // Takes over `readFd`. Keeps at most `lines` lines of at most `lineLength`
    // bytes each (a longer line is cut).
    PipeTail(int readFd, std::size_t lines, std::size_t lineLength = 400);
    // Stops reading at once, even while a writer (or a grandchild holding its
    // end) keeps the pipe open.
    ~PipeTail();
    PipeTail(const PipeTail&) = delete;
    PipeTail& operator=(const PipeTail&) = delete;

    // Any thread. Oldest first; a last line without its newline yet included.
    std::vector<std::string> lines() const;

private:
    void read();
    void take(const char* data, std::size_t size);

    int fd_;
    int stop_;
    std::size_t keep_;
    std::size_t lineLength_;
    mutable std::mutex mutex_;
    std::deque<std::string> lines_;
    std::string partial_;
    std::thread thread_;
};

} // namespace corvane
