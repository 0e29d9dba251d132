// The checker the render-path tests rely on: what it catches, and whose calls
// it holds against the host.
#include "tests/support/RealtimeChecker.h"
#include "platform/system/RealtimeScope.h"
#include "tests/support/realtime/FortifiedNames.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/futex.h>
#include <poll.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <new>
#include <optional>
#include <semaphore>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using corvane::HostCallbackScope;
using corvane::PluginCodeScope;
using corvane::RealtimeScope;
using corvane::test::RealtimeChecker;

namespace {

// Keeps the optimiser from removing an allocation it can see is unused.
void escape(void* pointer) {
    asm volatile("" : : "g"(pointer) : "memory");
}

// The checker's findings without what it allowed.
std::string calls(const RealtimeChecker& checker) {
    const std::string report = checker.report();
    return report.substr(0, report.find(';'));
}

timespec fromNow(std::chrono::nanoseconds offset, clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    const auto at = std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec) + offset;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(at);
    return {static_cast<time_t>(seconds.count()), static_cast<long>((at - seconds).count())};
}

// What the calls below work on, set up before the real-time scope and torn
// down after it, so that only the call itself happens inside.
struct Stage {
    explicit Stage(const RealtimeChecker& watching) : checker(watching) {
        EXPECT_EQ(pipe(fds), 0);
        EXPECT_EQ(write(fds[1], "ab", 2), 2);
        sem_init(&semaphore, 0, 3);
    }
    ~Stage() {
        close(fds[0]);
        close(fds[1]);
        sem_destroy(&semaphore);
    }
    const RealtimeChecker& checker;
    int fds[2] = {-1, -1};
    sem_t semaphore;
    std::counting_semaphore<> counting{0};
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_rwlock_t rwlock = PTHREAD_RWLOCK_INITIALIZER;
    pthread_cond_t condition = PTHREAD_COND_INITIALIZER;
    bool waiting = false; // under `mutex`
};

struct Row {
    const char* caught;    // the report, in the normal build
    const char* sanitized; // under the address sanitizer, where it differs
    void (*call)(Stage&);
    void (*letGo)(Stage&) = nullptr; // on another thread: ends a wait the call cannot end itself
};

struct Wide {
    alignas(128) float x[32];
};

// clang-format off
const Row rows[] = {
    // Every allocating entry point, each counted; the sanitizer's realloc is a
    // fresh allocation and a release.
    {"malloc 2, calloc 1, realloc 1, free 5, aligned alloc 2", "allocation 6, release 6", [](Stage&) {
         void* p = std::malloc(32); escape(p); std::free(p);
         p = std::calloc(4, 8); escape(p); std::free(p);
         p = std::malloc(8); escape(p); p = std::realloc(p, 4096); escape(p); std::free(p);
         if (posix_memalign(&p, 64, 64) == 0) { escape(p); std::free(p); }
         p = std::aligned_alloc(64, 128); escape(p); std::free(p);
     }},
    {"operator new 5, operator delete 5", "allocation 5, release 5", [](Stage&) {
         auto* one = new int(3); escape(one); delete one;
         auto* many = new float[8]; escape(many); delete[] many;
         auto* wide = new Wide; escape(wide); delete wide;
         auto* quiet = new (std::nothrow) int; escape(quiet); delete quiet;
         std::vector<int> v; v.push_back(1); escape(v.data());
     }},
    {"mutex lock 3", nullptr, [](Stage& s) {
         std::mutex m;
         m.lock(); m.unlock();
         const timespec wall = fromNow(1s, CLOCK_REALTIME), steady = fromNow(1s, CLOCK_MONOTONIC);
         pthread_mutex_timedlock(&s.mutex, &wall); pthread_mutex_unlock(&s.mutex);
         pthread_mutex_clocklock(&s.mutex, CLOCK_MONOTONIC, &steady); pthread_mutex_unlock(&s.mutex);
     }},
    {"read-write lock 6", nullptr, [](Stage& s) {
         std::shared_mutex m;
         m.lock(); m.unlock();
         m.lock_shared(); m.unlock_shared();
         const timespec wall = fromNow(1s, CLOCK_REALTIME), steady = fromNow(1s, CLOCK_MONOTONIC);
         pthread_rwlock_timedrdlock(&s.rwlock, &wall); pthread_rwlock_unlock(&s.rwlock);
         pthread_rwlock_timedwrlock(&s.rwlock, &wall); pthread_rwlock_unlock(&s.rwlock);
         pthread_rwlock_clockrdlock(&s.rwlock, CLOCK_MONOTONIC, &steady); pthread_rwlock_unlock(&s.rwlock);
         pthread_rwlock_clockwrlock(&s.rwlock, CLOCK_MONOTONIC, &steady); pthread_rwlock_unlock(&s.rwlock);
     }},
    // The other thread signals once the wait has let go of the mutex; its own
    // locking never counts, the scope being this thread's alone.
    {"condition wait 3", nullptr, [](Stage& s) {
         while (pthread_mutex_trylock(&s.mutex) != 0) {}
         s.waiting = true;
         pthread_cond_wait(&s.condition, &s.mutex);
         const timespec wall = fromNow(-1s, CLOCK_REALTIME), steady = fromNow(-1s, CLOCK_MONOTONIC);
         pthread_cond_timedwait(&s.condition, &s.mutex, &wall);
         pthread_cond_clockwait(&s.condition, &s.mutex, CLOCK_MONOTONIC, &steady);
         pthread_mutex_unlock(&s.mutex);
     },
     [](Stage& s) {
         pthread_mutex_lock(&s.mutex);
         while (!s.waiting) {
             pthread_mutex_unlock(&s.mutex); std::this_thread::yield(); pthread_mutex_lock(&s.mutex);
         }
         pthread_cond_signal(&s.condition);
         pthread_mutex_unlock(&s.mutex);
     }},
    {"semaphore wait 3", nullptr, [](Stage& s) {
         const timespec wall = fromNow(1s, CLOCK_REALTIME), steady = fromNow(1s, CLOCK_MONOTONIC);
         sem_wait(&s.semaphore); sem_timedwait(&s.semaphore, &wall);
         sem_clockwait(&s.semaphore, CLOCK_MONOTONIC, &steady);
     }},
    // acquire() spins a while, then waits on a futex; the other thread lets it
    // go once the checker saw the wait, or after a moment outside a scope.
    {"futex wait 2", nullptr, [](Stage& s) {
         s.counting.acquire();
         const int word = 0;
         syscall(SYS_futex, &word, FUTEX_WAIT_BITSET_PRIVATE, 1, nullptr, nullptr, FUTEX_BITSET_MATCH_ANY);
     },
     [](Stage& s) {
         const auto giveUp = std::chrono::steady_clock::now() + 200ms;
         while (s.checker.violations() == 0 && std::chrono::steady_clock::now() < giveUp)
             std::this_thread::yield();
         s.counting.release();
     }},
    {"sleep 5", nullptr, [](Stage&) {
         const timespec shortest{0, 1};
         nanosleep(&shortest, nullptr); clock_nanosleep(CLOCK_MONOTONIC, 0, &shortest, nullptr);
         usleep(0); sleep(0); std::this_thread::sleep_for(1ns);
     }},
    {"read 2", nullptr, [](Stage& s) {
         char byte[2]; escape(byte);
         [[maybe_unused]] const auto a = read(s.fds[0], byte, 1);
         [[maybe_unused]] const auto b = __read_chk(s.fds[0], byte, 1, sizeof byte);
     }},
    {"write 1", nullptr, [](Stage& s) { [[maybe_unused]] const auto n = write(s.fds[1], "c", 1); }},
    {"open 8", nullptr, [](Stage&) {
         const char* null = "/dev/null";
         for (int fd : {open(null, O_RDONLY), open64(null, O_RDONLY), __open_2(null, O_RDONLY),
                        __open64_2(null, O_RDONLY), openat(AT_FDCWD, null, O_RDONLY),
                        openat64(AT_FDCWD, null, O_RDONLY), __openat_2(AT_FDCWD, null, O_RDONLY),
                        __openat64_2(AT_FDCWD, null, O_RDONLY)})
             close(fd);
     }},
    {"poll 4", nullptr, [](Stage& s) {
         pollfd readable{s.fds[0], POLLIN, 0};
         const timespec none{0, 0};
         poll(&readable, 1, 0); __poll_chk(&readable, 1, 0, sizeof readable);
         ppoll(&readable, 1, &none, nullptr); __ppoll_chk(&readable, 1, &none, nullptr, sizeof readable);
     }},
    // What cannot block: trying, posting, waking.
    {"none", nullptr, [](Stage& s) {
         if (pthread_mutex_trylock(&s.mutex) == 0) pthread_mutex_unlock(&s.mutex);
         sem_trywait(&s.semaphore); sem_post(&s.semaphore);
         s.counting.release(); // wakes through the same futex call acquire() waits with
         [[maybe_unused]] const bool taken = s.counting.try_acquire();
     }},
};
// clang-format on

} // namespace

TEST(RealtimeChecker, CatchesEachForbiddenKindOfCallInsideARealtimeScopeAndNotOutside) {
    for (const Row& row : rows) {
        const std::string caught =
            RealtimeChecker::replacesMalloc() || !row.sanitized ? row.caught : row.sanitized;
        for (const bool inside : {false, true}) {
            RealtimeChecker checker;
            Stage stage(checker);
            std::thread letGo;
            if (row.letGo)
                letGo = std::thread(row.letGo, std::ref(stage));
            {
                std::optional<RealtimeScope> scope;
                if (inside)
                    scope.emplace();
                row.call(stage);
            }
            if (letGo.joinable())
                letGo.join();
            EXPECT_EQ(calls(checker), inside ? caught : "none")
                << caught << (inside ? ", inside" : ", outside");
        }
    }
}

TEST(RealtimeChecker, HoldsHostCallbacksFromPluginCodeAgainstTheHostButOnlyReportsThePluginsOwnCalls) {
    RealtimeChecker checker;
    std::mutex mutex;
    const auto lock = [&] { mutex.lock(); mutex.unlock(); };
    {
        RealtimeScope render;
        {
            PluginCodeScope run;
            lock();
            {
                HostCallbackScope schedule;
                lock();
            }
            lock();
        }
        HostCallbackScope calledByTheHost; // not from a plug-in: plainly the host's
        lock();
    }
    EXPECT_EQ(checker.violations(), 2u);
    EXPECT_EQ(checker.hostCallbackViolations(), 1u);
    EXPECT_EQ(checker.pluginCalls(), 2u);
    EXPECT_EQ(calls(checker), "mutex lock 1, mutex lock 1 in host callbacks (and 2 by plug-ins' own code)");
}

// The render thread may wake a futex word it shares with another process and
// wait on it until a deadline; each near miss of those two is still caught.
// None of the waits below can sleep: the word never holds the value expected.
TEST(RealtimeChecker, AllowsOnlyTheSharedFutexWakeAndTheSharedWaitUntilAMonotonicDeadline) {
    int word = 0;
    const timespec steady = fromNow(1s, CLOCK_MONOTONIC), wall = fromNow(1s, CLOCK_REALTIME), relative{1, 0};
    RealtimeChecker allowed;
    {
        RealtimeScope render;
        syscall(SYS_futex, &word, FUTEX_WAKE, 1, nullptr, nullptr, 0);
        syscall(SYS_futex, &word, FUTEX_WAIT_BITSET, 1, &steady, nullptr, FUTEX_BITSET_MATCH_ANY);
    }
    EXPECT_EQ(allowed.report(), "none; allowed: shared futex wake 1, shared futex wait until a deadline 1");
    EXPECT_EQ(allowed.allowedCalls(), 2u);

    RealtimeChecker caught;
    {
        RealtimeScope render;
        syscall(SYS_futex, &word, FUTEX_WAIT_BITSET, 1, nullptr, nullptr, FUTEX_BITSET_MATCH_ANY);
        syscall(SYS_futex, &word, FUTEX_WAIT_BITSET_PRIVATE, 1, &steady, nullptr, FUTEX_BITSET_MATCH_ANY);
        syscall(SYS_futex, &word, FUTEX_WAIT_BITSET | FUTEX_CLOCK_REALTIME, 1, &wall, nullptr, FUTEX_BITSET_MATCH_ANY);
        syscall(SYS_futex, &word, FUTEX_WAIT, 1, &relative, nullptr, 0);
        syscall(SYS_getpid);
    }
    EXPECT_EQ(caught.report(), "futex wait 4, system call 1");
}
