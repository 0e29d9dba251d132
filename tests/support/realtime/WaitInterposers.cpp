// Stand-ins for the calls that can put the caller to sleep: mutex and
// read-write locks, condition and semaphore waits, futex waits and sleeps. Each
// notes itself (Tally.h) and hands on to the next definition (NextDefinition.h).
// Trying a lock and posting a semaphore cannot block and are left alone.
//
// libstdc++ builds std::counting_semaphore::acquire and std::atomic::wait out
// of inline code that spins and then calls syscall(SYS_futex, FUTEX_WAIT...)
// itself, so those waits are seen at syscall(). Locks built on atomics (Qt's
// QMutex, spin locks) are seen only when they really wait, which they also do
// through that futex call. Any other system call made through syscall() is
// noted too, as a system call, except a private futex wake (a semaphore post)
// and the two calls the render thread is allowed (Tally.h), which are noted
// apart.
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

CORVANE_INTERPOSE(MutexLock, int, pthread_mutex_lock, (pthread_mutex_t * mutex) noexcept, (mutex))
CORVANE_INTERPOSE(MutexLock, int, pthread_mutex_timedlock, (pthread_mutex_t * mutex, const timespec* deadline) noexcept,
                  (mutex, deadline))
CORVANE_INTERPOSE(MutexLock, int, pthread_mutex_clocklock,
                  (pthread_mutex_t * mutex, clockid_t clock, const timespec* deadline) noexcept,
                  (mutex, clock, deadline))
CORVANE_INTERPOSE(ReadWriteLock, int, pthread_rwlock_rdlock, (pthread_rwlock_t * lock) noexcept, (lock))
CORVANE_INTERPOSE(ReadWriteLock, int, pthread_rwlock_wrlock, (pthread_rwlock_t * lock) noexcept, (lock))
CORVANE_INTERPOSE(ReadWriteLock, int, pthread_rwlock_timedrdlock,
                  (pthread_rwlock_t * lock, const timespec* deadline) noexcept, (lock, deadline))
CORVANE_INTERPOSE(ReadWriteLock, int, pthread_rwlock_timedwrlock,
                  (pthread_rwlock_t * lock, const timespec* deadline) noexcept, (lock, deadline))
CORVANE_INTERPOSE(ReadWriteLock, int, pthread_rwlock_clockrdlock,
                  (pthread_rwlock_t * lock, clockid_t clock, const timespec* deadline) noexcept,
                  (lock, clock, deadline))
CORVANE_INTERPOSE(ReadWriteLock, int, pthread_rwlock_clockwrlock,
                  (pthread_rwlock_t * lock, clockid_t clock, const timespec* deadline) noexcept,
                  (lock, clock, deadline))
CORVANE_INTERPOSE(ConditionWait, int, pthread_cond_wait, (pthread_cond_t * condition, pthread_mutex_t* mutex),
                  (condition, mutex))
CORVANE_INTERPOSE(ConditionWait, int, pthread_cond_timedwait,
                  (pthread_cond_t * condition, pthread_mutex_t* mutex, const timespec* deadline),
                  (condition, mutex, deadline))
CORVANE_INTERPOSE(ConditionWait, int, pthread_cond_clockwait,
                  (pthread_cond_t * condition, pthread_mutex_t* mutex, clockid_t clock, const timespec* deadline),
                  (condition, mutex, clock, deadline))
CORVANE_INTERPOSE(SemaphoreWait, int, sem_wait, (sem_t * semaphore), (semaphore))
CORVANE_INTERPOSE(SemaphoreWait, int, sem_timedwait, (sem_t * semaphore, const timespec* deadline),
                  (semaphore, deadline))
CORVANE_INTERPOSE(SemaphoreWait, int, sem_clockwait, (sem_t * semaphore, clockid_t clock, const timespec* deadline),
                  (semaphore, clock, deadline))
CORVANE_INTERPOSE(Sleep, int, nanosleep, (const timespec* requested, timespec* remaining), (requested, remaining),
                  CORVANE_GLIBC_INTERNAL(__nanosleep))
CORVANE_INTERPOSE(Sleep, int, clock_nanosleep,
                  (clockid_t clock, int flags, const timespec* requested, timespec* remaining),
                  (clock, flags, requested, remaining))
CORVANE_INTERPOSE(Sleep, int, usleep, (useconds_t microseconds), (microseconds))
CORVANE_INTERPOSE(Sleep, unsigned int, sleep, (unsigned int seconds), (seconds))

// Everything through syscall() is forbidden but for two futex calls the
// render thread makes by name, and the private wake a semaphore post makes.
namespace {

using SyscallFunction = long (*)(long, ...) noexcept;
constinit NextDefinition<SyscallFunction> nextSyscall{"syscall"};
[[maybe_unused]] const bool lookedUp = nextSyscall.get() != nullptr;

// What syscall(number, ...) is to the checker; CallCount when it is not
// counted at all. `operation` and `timeout` are the second and fourth
// arguments, which for a futex are its command and its time limit.
Call classify(long number, long operation, long timeout) noexcept {
#ifdef SYS_futex_waitv
    if (number == SYS_futex_waitv)
        return FutexWait;
#endif
    if (number != SYS_futex)
        return SystemCall;
    const bool shared = (operation & FUTEX_PRIVATE_FLAG) == 0;
    switch (operation & FUTEX_CMD_MASK) {
    case FUTEX_WAKE:
        // Waking cannot block. libstdc++'s semaphore release() and
        // atomic notify wake a private word this way.
        return shared ? SharedFutexWake : CallCount;
    case FUTEX_WAIT_BITSET:
        // Its time limit is a deadline, on CLOCK_MONOTONIC unless the flag
        // says CLOCK_REALTIME (which jumps with the wall clock).
        if (shared && timeout != 0 && (operation & FUTEX_CLOCK_REALTIME) == 0)
            return SharedFutexDeadlineWait;
        return FutexWait;
    case FUTEX_WAIT:
    case FUTEX_LOCK_PI:
    case FUTEX_LOCK_PI2:
    case FUTEX_WAIT_REQUEUE_PI:
        return FutexWait;
    default:
        return SystemCall;
    }
}

} // namespace

extern "C" {

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
    if (const Call call = classify(number, a[1], a[3]); call != CallCount)
        note(call);
    return nextSyscall.get()(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

} // extern "C"
