#pragma once
// A region of memory two processes map: an anonymous memfd (it has no name in
// /dev/shm, so nothing of it can outlive the processes that hold it), sealed
// against shrinking so that neither side's mapping can lose its pages under it.
// The creating process hands the descriptor to a child, which adopts it.

#include <cstddef>
#include <memory>
#include <string>

namespace corvane {

class SharedMemory {
public:
    // Any thread but the real-time one. Null with a reason in `error` when the
    // region cannot be made or mapped. The descriptor is close-on-exec: a
    // child gets it only where it is placed on purpose.
    static std::unique_ptr<SharedMemory> create(std::size_t size, std::string& error);
    // The other side: maps the region behind `fd` (taking the descriptor
    // over), which must be a sealed memfd of at least `minimumSize` bytes.
    static std::unique_ptr<SharedMemory> adopt(int fd, std::size_t minimumSize, std::string& error);
    ~SharedMemory(); // unmaps and closes
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    void* data() const { return data_; }
    std::size_t size() const { return size_; }
    int fd() const { return fd_; }

private:
    SharedMemory(int fd, void* data, std::size_t size) : fd_(fd), data_(data), size_(size) {}
    int fd_;
    void* data_;
    std::size_t size_;
};

} // namespace corvane
