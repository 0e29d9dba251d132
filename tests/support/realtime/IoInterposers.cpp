// Stand-ins for file and socket I/O: read, write, open and poll, under every
// name glibc 2.36 exports for them and compiled code calls: the 64-bit file
// offset names (open64, openat64) and the fortified ones a _FORTIFY_SOURCE
// build emits (__read_chk, __open_2, __poll_chk, ...). Each notes itself
// (Tally.h) and hands on to the next definition (NextDefinition.h).
//
// What the C library does inside itself never comes through here: stdio's own
// reads and writes (printf, fopen) call glibc's internal names directly.
#undef _FORTIFY_SOURCE
#undef _FILE_OFFSET_BITS

#include "tests/support/realtime/NextDefinition.h"
#include "tests/support/realtime/Tally.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdarg>

// Internal and fortified names, which glibc declares only to fortified builds
// or not at all.
extern "C" {
ssize_t __read(int fd, void* buffer, size_t size);
ssize_t __write(int fd, const void* buffer, size_t size);
int __open64(const char* path, int flags, ...);
int __poll(pollfd* fds, nfds_t count, int timeout);
ssize_t __read_chk(int fd, void* buffer, size_t size, size_t bufferSize);
int __open_2(const char* path, int flags);
int __open64_2(const char* path, int flags);
int __openat_2(int directory, const char* path, int flags);
int __openat64_2(int directory, const char* path, int flags);
int __poll_chk(pollfd* fds, nfds_t count, int timeout, size_t fdsSize);
int __ppoll_chk(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask, size_t fdsSize);
}

using namespace corvane::test::realtime;

namespace {

// Spelled out: decltype(&::read) would carry attributes a template drops.
using ReadFunction = ssize_t (*)(int, void*, size_t);
using ReadCheckedFunction = ssize_t (*)(int, void*, size_t, size_t);
using WriteFunction = ssize_t (*)(int, const void*, size_t);
using OpenFunction = int (*)(const char*, int, ...);
using OpenFortifiedFunction = int (*)(const char*, int);
using OpenAtFunction = int (*)(int, const char*, int, ...);
using OpenAtFortifiedFunction = int (*)(int, const char*, int);
using PollFunction = int (*)(pollfd*, nfds_t, int);
using PollCheckedFunction = int (*)(pollfd*, nfds_t, int, size_t);
using PpollFunction = int (*)(pollfd*, nfds_t, const timespec*, const sigset_t*);
using PpollCheckedFunction = int (*)(pollfd*, nfds_t, const timespec*, const sigset_t*, size_t);

constinit NextDefinition<ReadFunction> nextRead{"read", CORVANE_GLIBC_INTERNAL(__read)};
constinit NextDefinition<ReadCheckedFunction> nextReadChecked{"__read_chk"};
constinit NextDefinition<WriteFunction> nextWrite{"write", CORVANE_GLIBC_INTERNAL(__write)};
constinit NextDefinition<OpenFunction> nextOpen{"open", CORVANE_GLIBC_INTERNAL(__open64)};
constinit NextDefinition<OpenFunction> nextOpen64{"open64", CORVANE_GLIBC_INTERNAL(__open64)};
constinit NextDefinition<OpenFortifiedFunction> nextOpen2{"__open_2"};
constinit NextDefinition<OpenFortifiedFunction> nextOpen64_2{"__open64_2"};
constinit NextDefinition<OpenAtFunction> nextOpenAt{"openat"};
constinit NextDefinition<OpenAtFunction> nextOpenAt64{"openat64"};
constinit NextDefinition<OpenAtFortifiedFunction> nextOpenAt2{"__openat_2"};
constinit NextDefinition<OpenAtFortifiedFunction> nextOpenAt64_2{"__openat64_2"};
constinit NextDefinition<PollFunction> nextPoll{"poll", CORVANE_GLIBC_INTERNAL(__poll)};
constinit NextDefinition<PollCheckedFunction> nextPollChecked{"__poll_chk"};
constinit NextDefinition<PpollFunction> nextPpoll{"ppoll"};
constinit NextDefinition<PpollCheckedFunction> nextPpollChecked{"__ppoll_chk"};

[[maybe_unused]] const bool lookedUp =
    lookUp(nextRead, nextReadChecked, nextWrite, nextOpen, nextOpen64, nextOpen2, nextOpen64_2, nextOpenAt,
           nextOpenAt64, nextOpenAt2, nextOpenAt64_2, nextPoll, nextPollChecked, nextPpoll, nextPpollChecked);

// open() reads its mode argument only when the flags say there is one.
bool takesMode(int flags) noexcept { return (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE; }

} // namespace

extern "C" {

ssize_t read(int fd, void* buffer, size_t size) {
    note(Read);
    return nextRead.get()(fd, buffer, size);
}

ssize_t __read_chk(int fd, void* buffer, size_t size, size_t bufferSize) {
    note(Read);
    return nextReadChecked.get()(fd, buffer, size, bufferSize);
}

ssize_t write(int fd, const void* buffer, size_t size) {
    note(Write);
    return nextWrite.get()(fd, buffer, size);
}

int open(const char* path, int flags, ...) {
    note(Open);
    mode_t mode = 0;
    if (takesMode(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    return nextOpen.get()(path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    note(Open);
    mode_t mode = 0;
    if (takesMode(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    return nextOpen64.get()(path, flags, mode);
}

int __open_2(const char* path, int flags) {
    note(Open);
    return nextOpen2.get()(path, flags);
}

int __open64_2(const char* path, int flags) {
    note(Open);
    return nextOpen64_2.get()(path, flags);
}

int openat(int directory, const char* path, int flags, ...) {
    note(Open);
    mode_t mode = 0;
    if (takesMode(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    return nextOpenAt.get()(directory, path, flags, mode);
}

int openat64(int directory, const char* path, int flags, ...) {
    note(Open);
    mode_t mode = 0;
    if (takesMode(flags)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = va_arg(arguments, mode_t);
        va_end(arguments);
    }
    return nextOpenAt64.get()(directory, path, flags, mode);
}

int __openat_2(int directory, const char* path, int flags) {
    note(Open);
    return nextOpenAt2.get()(directory, path, flags);
}

int __openat64_2(int directory, const char* path, int flags) {
    note(Open);
    return nextOpenAt64_2.get()(directory, path, flags);
}

int poll(pollfd* fds, nfds_t count, int timeout) {
    note(Poll);
    return nextPoll.get()(fds, count, timeout);
}

int __poll_chk(pollfd* fds, nfds_t count, int timeout, size_t fdsSize) {
    note(Poll);
    return nextPollChecked.get()(fds, count, timeout, fdsSize);
}

int ppoll(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask) {
    note(Poll);
    return nextPpoll.get()(fds, count, timeout, mask);
}

int __ppoll_chk(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask, size_t fdsSize) {
    note(Poll);
    return nextPpollChecked.get()(fds, count, timeout, mask, fdsSize);
}

} // extern "C"
