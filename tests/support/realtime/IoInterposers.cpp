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

#include "tests/support/realtime/FortifiedNames.h"
#include "tests/support/realtime/NextDefinition.h"
#include "tests/support/realtime/Tally.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cstdarg>

// glibc's internal names, which it declares nowhere; the fortified ones come
// from FortifiedNames.h.
extern "C" {
ssize_t __read(int fd, void* buffer, size_t size);
ssize_t __write(int fd, const void* buffer, size_t size);
int __open64(const char* path, int flags, ...);
int __poll(pollfd* fds, nfds_t count, int timeout);
}

using namespace corvane::test::realtime;

CORVANE_INTERPOSE(Read, ssize_t, read, (int fd, void* buffer, size_t size), (fd, buffer, size),
                  CORVANE_GLIBC_INTERNAL(__read))
CORVANE_INTERPOSE(Read, ssize_t, __read_chk, (int fd, void* buffer, size_t size, size_t bufferSize),
                  (fd, buffer, size, bufferSize))
CORVANE_INTERPOSE(Write, ssize_t, write, (int fd, const void* buffer, size_t size), (fd, buffer, size),
                  CORVANE_GLIBC_INTERNAL(__write))
CORVANE_INTERPOSE(Open, int, __open_2, (const char* path, int flags), (path, flags))
CORVANE_INTERPOSE(Open, int, __open64_2, (const char* path, int flags), (path, flags))
CORVANE_INTERPOSE(Open, int, __openat_2, (int directory, const char* path, int flags), (directory, path, flags))
CORVANE_INTERPOSE(Open, int, __openat64_2, (int directory, const char* path, int flags), (directory, path, flags))
CORVANE_INTERPOSE(Poll, int, poll, (pollfd * fds, nfds_t count, int timeout), (fds, count, timeout),
                  CORVANE_GLIBC_INTERNAL(__poll))
CORVANE_INTERPOSE(Poll, int, __poll_chk, (pollfd * fds, nfds_t count, int timeout, size_t fdsSize),
                  (fds, count, timeout, fdsSize))
CORVANE_INTERPOSE(Poll, int, ppoll, (pollfd * fds, nfds_t count, const timespec* timeout, const sigset_t* mask),
                  (fds, count, timeout, mask))
CORVANE_INTERPOSE(Poll, int, __ppoll_chk,
                  (pollfd * fds, nfds_t count, const timespec* timeout, const sigset_t* mask, size_t fdsSize),
                  (fds, count, timeout, mask, fdsSize))

// open() and openat() take a mode argument only when the flags say there is
// one, so they cannot hand their arguments on blindly: `mode` is the argument
// after `flags` if they say there is one, else 0.
#define CORVANE_INTERPOSE_OPEN(name, parameters, arguments, ...)                                               \
    namespace {                                                                                                \
    constinit NextDefinition<int(*) parameters> next_##name{#name __VA_OPT__(, ) __VA_ARGS__};                 \
    [[maybe_unused]] const bool lookedUp_##name = next_##name.get() != nullptr;                                \
    }                                                                                                          \
    extern "C" int name parameters {                                                                           \
        note(Open);                                                                                            \
        mode_t mode = 0;                                                                                       \
        if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {                                      \
            va_list more;                                                                                      \
            va_start(more, flags);                                                                             \
            mode = va_arg(more, mode_t);                                                                       \
            va_end(more);                                                                                      \
        }                                                                                                      \
        return next_##name.get() arguments;                                                                    \
    }

CORVANE_INTERPOSE_OPEN(open, (const char* path, int flags, ...), (path, flags, mode), CORVANE_GLIBC_INTERNAL(__open64))
CORVANE_INTERPOSE_OPEN(open64, (const char* path, int flags, ...), (path, flags, mode),
                       CORVANE_GLIBC_INTERNAL(__open64))
CORVANE_INTERPOSE_OPEN(openat, (int directory, const char* path, int flags, ...), (directory, path, flags, mode))
CORVANE_INTERPOSE_OPEN(openat64, (int directory, const char* path, int flags, ...), (directory, path, flags, mode))
