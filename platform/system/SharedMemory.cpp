#include "platform/system/SharedMemory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace corvane {

namespace {

std::string failure(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

constexpr int kRequiredSeals = F_SEAL_SHRINK;

} // namespace

std::unique_ptr<SharedMemory> SharedMemory::create(std::size_t size, std::string& error) {
    const int fd = memfd_create("corvane-region", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) {
        error = failure("cannot create shared memory");
        return nullptr;
    }
    if (ftruncate(fd, static_cast<off_t>(size)) != 0
        || fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
        error = failure("cannot size shared memory");
        close(fd);
        return nullptr;
    }
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) {
        error = failure("cannot map shared memory");
        close(fd);
        return nullptr;
    }
    return std::unique_ptr<SharedMemory>(new SharedMemory(fd, data, size));
}

std::unique_ptr<SharedMemory> SharedMemory::adopt(int fd, std::size_t minimumSize, std::string& error) {
    struct stat st {};
    const int seals = fcntl(fd, F_GET_SEALS);
    if (fstat(fd, &st) != 0 || seals < 0 || (seals & kRequiredSeals) != kRequiredSeals
        || static_cast<std::size_t>(st.st_size) < minimumSize) {
        error = "the descriptor is no sealed shared memory of the expected size";
        close(fd);
        return nullptr;
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) {
        error = failure("cannot map shared memory");
        close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    return std::unique_ptr<SharedMemory>(new SharedMemory(fd, data, size));
}

SharedMemory::~SharedMemory() {
    munmap(data_, size_);
    close(fd_);
}

} // namespace corvane
