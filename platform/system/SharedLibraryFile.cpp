#include "platform/system/SharedLibraryFile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

namespace {

// The parts of an ELF header that say what a file is and where it runs. The
// first twenty bytes are laid out alike for 32- and 64-bit files.
struct ElfIdentity {
    unsigned char elfClass = 0;  // ELFCLASS32 or ELFCLASS64
    unsigned char byteOrder = 0; // ELFDATA2LSB or ELFDATA2MSB
    std::uint16_t type = 0;      // ET_DYN for a shared object
    std::uint16_t machine = 0;   // EM_X86_64, EM_AARCH64, ...
};

constexpr std::size_t kIdentityBytes = EI_NIDENT + 4;

std::uint16_t half(const unsigned char* p, unsigned char byteOrder) {
    return byteOrder == ELFDATA2MSB ? static_cast<std::uint16_t>(p[0] << 8 | p[1])
                                    : static_cast<std::uint16_t>(p[1] << 8 | p[0]);
}

// nullopt when the bytes are not an ELF header.
std::optional<ElfIdentity> identityOf(const unsigned char* bytes, std::size_t size) {
    if (size < kIdentityBytes || std::memcmp(bytes, ELFMAG, SELFMAG) != 0)
        return std::nullopt;
    ElfIdentity id;
    id.elfClass = bytes[EI_CLASS];
    id.byteOrder = bytes[EI_DATA];
    id.type = half(bytes + EI_NIDENT, id.byteOrder);
    id.machine = half(bytes + EI_NIDENT + 2, id.byteOrder);
    return id;
}

// Reads the start of a file; -1 with errno set when it cannot be read.
ssize_t readStart(const char* path, unsigned char* bytes, std::size_t size) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    ssize_t got = 0;
    while (static_cast<std::size_t>(got) < size) {
        const ssize_t n = ::read(fd, bytes + got, size - static_cast<std::size_t>(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return got;
}

// This program's own header says what this machine runs; without /proc the
// compiler's idea of it stands in, less the machine.
const ElfIdentity& ownIdentity() {
    static const ElfIdentity own = [] {
        unsigned char bytes[kIdentityBytes];
        const ssize_t n = readStart("/proc/self/exe", bytes, sizeof bytes);
        if (auto id = identityOf(bytes, n > 0 ? static_cast<std::size_t>(n) : 0))
            return *id;
        ElfIdentity guess;
        guess.elfClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
        guess.byteOrder = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? ELFDATA2MSB : ELFDATA2LSB;
        return guess;
    }();
    return own;
}

std::string unreadable() { return std::string("cannot be read (") + std::strerror(errno) + ")"; }

} // namespace

std::string sharedLibraryProblem(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return errno == ENOENT ? "does not exist" : unreadable();
    if (!S_ISREG(info.st_mode))
        return "is not a regular file";
    unsigned char bytes[kIdentityBytes];
    const ssize_t n = readStart(path.c_str(), bytes, sizeof bytes);
    if (n < 0)
        return unreadable();
    const auto id = identityOf(bytes, static_cast<std::size_t>(n));
    if (!id)
        return "is not a shared library (not an ELF file)";
    if (id->type != ET_DYN)
        return "is not a shared library (ELF type " + std::to_string(id->type) + ")";
    const ElfIdentity& own = ownIdentity();
    if (id->elfClass != own.elfClass && (id->elfClass == ELFCLASS32 || id->elfClass == ELFCLASS64))
        return id->elfClass == ELFCLASS32 ? "is built for 32-bit machines" : "is built for 64-bit machines";
    const bool otherMachine = own.machine != 0 && id->machine != own.machine;
    if (id->elfClass != own.elfClass || id->byteOrder != own.byteOrder || otherMachine)
        return "is built for another kind of machine";
    return {};
}

} // namespace corvane
