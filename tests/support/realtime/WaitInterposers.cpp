// Stand-ins for the calls that can put the caller to sleep: mutex and
// read-write locks, condition and semaphore waits, futex waits and sleeps. Each
// notes itself (Tally.h) and hands on to the next definition (NextDefinition.h).
// Trying a lock, posting a semaphore and waking a futex cannot block and are
// left alone.
//
// libstdc++ builds std::counting_semaphore::acquire and std::atomic::wait out
// of inline code that spins and then calls syscall(SYS_futex, FUTEX_WAIT...)
// itself, so those waits are seen at syscall(), which passes everything else on
// untouched. Locks built on atomics (Qt's QMutex, spin locks) are seen only
// when they really wait, which they also do through that futex call.
#undef _FORTIFY_SOURCE

#include "tests/support/realtime/NextDefinition.h"
#include "tests/support/realtime/Tally.h"

#include <linux/futex.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cstdarg>

extern "C" int __nanosleep(const timespec* requested, timespec* remaining);

using namespace corvane::test::realtime;

namespace {

// Spelled out: decltype(&::pthread_mutex_lock) would carry attributes a
// template drops.
using LockFunction = int (*)(pthread_mutex_t*) noexcept;
using TimedLockFunction = int (*)(pthread_mutex_t*, const timespec*) noexcept;
using ClockLockFunction = int (*)(pthread_mutex_t*, clockid_t, const timespec*) noexcept;
using RwLockFunction = int (*)(pthread_rwlock_t*) noexcept;
using TimedRwLockFunction = int (*)(pthread_rwlock_t*, const timespec*) noexcept;
using ClockRwLockFunction = int (*)(pthread_rwlock_t*, clockid_t, const timespec*) noexcept;
using CondWaitFunction = int (*)(pthread_cond_t*, pthread_mutex_t*);
using CondTimedWaitFunction = int (*)(pthread_cond_t*, pthread_mutex_t*, const timespec*);
using CondClockWaitFunction = int (*)(pthread_cond_t*, pthread_mutex_t*, clockid_t, const timespec*);
using SemWaitFunction = int (*)(sem_t*);
using SemTimedWaitFunction = int (*)(sem_t*, const timespec*);
using SemClockWaitFunction = int (*)(sem_t*, clockid_t, const timespec*);
using NanosleepFunction = int (*)(const timespec*, timespec*);
using ClockNanosleepFunction = int (*)(clockid_t, int, const timespec*, timespec*);
using UsleepFunction = int (*)(useconds_t);
using SleepFunction = unsigned int (*)(unsigned int);
using SyscallFunction = long (*)(long, ...) noexcept;

constinit NextDefinition<LockFunction> nextMutexLock{"pthread_mutex_lock"};
constinit NextDefinition<TimedLockFunction> nextMutexTimedLock{"pthread_mutex_timedlock"};
constinit NextDefinition<ClockLockFunction> nextMutexClockLock{"pthread_mutex_clocklock"};
constinit NextDefinition<RwLockFunction> nextReadLock{"pthread_rwlock_rdlock"};
constinit NextDefinition<RwLockFunction> nextWriteLock{"pthread_rwlock_wrlock"};
constinit NextDefinition<TimedRwLockFunction> nextTimedReadLock{"pthread_rwlock_timedrdlock"};
constinit NextDefinition<TimedRwLockFunction> nextTimedWriteLock{"pthread_rwlock_timedwrlock"};
constinit NextDefinition<ClockRwLockFunction> nextClockReadLock{"pthread_rwlock_clockrdlock"};
constinit NextDefinition<ClockRwLockFunction> nextClockWriteLock{"pthread_rwlock_clockwrlock"};
constinit NextDefinition<CondWaitFunction> nextCondWait{"pthread_cond_wait"};
constinit NextDefinition<CondTimedWaitFunction> nextCondTimedWait{"pthread_cond_timedwait"};
constinit NextDefinition<CondClockWaitFunction> nextCondClockWait{"pthread_cond_clockwait"};
constinit NextDefinition<SemWaitFunction> nextSemWait{"sem_wait"};
constinit NextDefinition<SemTimedWaitFunction> nextSemTimedWait{"sem_timedwait"};
constinit NextDefinition<SemClockWaitFunction> nextSemClockWait{"sem_clockwait"};
constinit NextDefinition<NanosleepFunction> nextNanosleep{"nanosleep", CORVANE_GLIBC_INTERNAL(__nanosleep)};
constinit NextDefinition<ClockNanosleepFunction> nextClockNanosleep{"clock_nanosleep"};
constinit NextDefinition<UsleepFunction> nextUsleep{"usleep"};
constinit NextDefinition<SleepFunction> nextSleep{"sleep"};
constinit NextDefinition<SyscallFunction> nextSyscall{"syscall"};

[[maybe_unused]] const bool lookedUp =
    lookUp(nextMutexLock, nextMutexTimedLock, nextMutexClockLock, nextReadLock, nextWriteLock,
           nextTimedReadLock, nextTimedWriteLock, nextClockReadLock, nextClockWriteLock, nextCondWait,
           nextCondTimedWait, nextCondClockWait, nextSemWait, nextSemTimedWait, nextSemClockWait,
           nextNanosleep, nextClockNanosleep, nextUsleep, nextSleep, nextSyscall);

bool blocksOnFutex(long number, long operation) noexcept {
#ifdef SYS_futex_waitv
    if (number == SYS_futex_waitv)
        return true;
#endif
    if (number != SYS_futex)
        return false;
    switch (operation & FUTEX_CMD_MASK) {
    case FUTEX_WAIT:
    case FUTEX_WAIT_BITSET:
    case FUTEX_LOCK_PI:
    case FUTEX_LOCK_PI2:
    case FUTEX_WAIT_REQUEUE_PI:
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" {

int pthread_mutex_lock(pthread_mutex_t* mutex) noexcept {
    note(MutexLock);
    return nextMutexLock.get()(mutex);
}

int pthread_mutex_timedlock(pthread_mutex_t* mutex, const timespec* deadline) noexcept {
    note(MutexLock);
    return nextMutexTimedLock.get()(mutex, deadline);
}

int pthread_mutex_clocklock(pthread_mutex_t* mutex, clockid_t clock, const timespec* deadline) noexcept {
    note(MutexLock);
    return nextMutexClockLock.get()(mutex, clock, deadline);
}

int pthread_rwlock_rdlock(pthread_rwlock_t* lock) noexcept {
    note(ReadWriteLock);
    return nextReadLock.get()(lock);
}

int pthread_rwlock_wrlock(pthread_rwlock_t* lock) noexcept {
    note(ReadWriteLock);
    return nextWriteLock.get()(lock);
}

int pthread_rwlock_timedrdlock(pthread_rwlock_t* lock, const timespec* deadline) noexcept {
    note(ReadWriteLock);
    return nextTimedReadLock.get()(lock, deadline);
}

int pthread_rwlock_timedwrlock(pthread_rwlock_t* lock, const timespec* deadline) noexcept {
    note(ReadWriteLock);
    return nextTimedWriteLock.get()(lock, deadline);
}

int pthread_rwlock_clockrdlock(pthread_rwlock_t* lock, clockid_t clock, const timespec* deadline) noexcept {
    note(ReadWriteLock);
    return nextClockReadLock.get()(lock, clock, deadline);
}

int pthread_rwlock_clockwrlock(pthread_rwlock_t* lock, clockid_t clock, const timespec* deadline) noexcept {
    note(ReadWriteLock);
    return nextClockWriteLock.get()(lock, clock, deadline);
}

int pthread_cond_wait(pthread_cond_t* condition, pthread_mutex_t* mutex) {
    note(ConditionWait);
    return nextCondWait.get()(condition, mutex);
}

int pthread_cond_timedwait(pthread_cond_t* condition, pthread_mutex_t* mutex, const timespec* deadline) {
    note(ConditionWait);
    return nextCondTimedWait.get()(condition, mutex, deadline);
}

int pthread_cond_clockwait(pthread_cond_t* condition, pthread_mutex_t* mutex, clockid_t clock,
                           const timespec* deadline) {
    note(ConditionWait);
    return nextCondClockWait.get()(condition, mutex, clock, deadline);
}

int sem_wait(sem_t* semaphore) {
    note(SemaphoreWait);
    return nextSemWait.get()(semaphore);
}

int sem_timedwait(sem_t* semaphore, const timespec* deadline) {
    note(SemaphoreWait);
    return nextSemTimedWait.get()(semaphore, deadline);
}

int sem_clockwait(sem_t* semaphore, clockid_t clock, const timespec* deadline) {
    note(SemaphoreWait);
    return nextSemClockWait.get()(semaphore, clock, deadline);
}

int nanosleep(const timespec* requested, timespec* remaining) {
    note(Sleep);
    return nextNanosleep.get()(requested, remaining);
}

int clock_nanosleep(clockid_t clock, int flags, const timespec* requested, timespec* remaining) {
    note(Sleep);
    return nextClockNanosleep.get()(clock, flags, requested, remaining);
}

int usleep(useconds_t microseconds) {
    note(Sleep);
    return nextUsleep.get()(microseconds);
}

unsigned int sleep(unsigned int seconds) {
    note(Sleep);
    return nextSleep.get()(seconds);
}

// The caller's argument count is unknown, so all six a system call can take
// are passed on, as the C library's own syscall() does; reading past what was
// passed only reads registers and the caller's stack, never a heap object,
// which is why the sanitizer must not check those reads.
__attribute__((no_sanitize("address"))) long syscall(long number, ...) noexcept {
    va_list arguments;
    va_start(arguments, number);
    long a[6];
    for (long& argument : a)
        argument = va_arg(arguments, long);
    va_end(arguments);
    if (blocksOnFutex(number, a[1]))
        note(FutexWait);
    return nextSyscall.get()(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

} // extern "C"
