#pragma once
// What a _FORTIFY_SOURCE build calls in place of read, open and poll. glibc
// declares these only to fortified builds, and code that names them directly
// (to stand in for them, or to call them on purpose) needs them either way.

#include <poll.h>
#include <signal.h>
#include <sys/types.h>

extern "C" {
ssize_t __read_chk(int fd, void* buffer, size_t size, size_t bufferSize);
int __open_2(const char* path, int flags);
int __open64_2(const char* path, int flags);
int __openat_2(int directory, const char* path, int flags);
int __openat64_2(int directory, const char* path, int flags);
int __poll_chk(pollfd* fds, nfds_t count, int timeout, size_t fdsSize);
int __ppoll_chk(pollfd* fds, nfds_t count, const timespec* timeout, const sigset_t* mask, size_t fdsSize);
}
