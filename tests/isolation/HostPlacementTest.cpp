// Where the hosts of isolated strips run beside our audio thread.

#include "platform/lv2/HostPlacement.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <string>
#include <thread>

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

int processorsAllowed(int thread) {
    cpu_set_t set;
    return sched_getaffinity(thread, sizeof(set), &set) == 0 ? CPU_COUNT(&set) : -1;
}

// Whether process `pid` sleeps (its state in /proc is S).
bool sleeps(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    return close != std::string::npos && line.compare(close, 3, ") S") == 0;
}

int priorityOf(int thread) {
    sched_param param{};
    return sched_getparam(thread, &param) == 0 ? param.sched_priority : -1;
}

TEST(HostPlacement, LightHostsJoinTheAudioThreadUntilPeriodsComeLate) {
    cpu_set_t all;
    ASSERT_EQ(sched_getaffinity(0, sizeof(all), &all), 0);
    if (CPU_COUNT(&all) < 2)
        GTEST_SKIP() << "one processor: there is nowhere else to run";
    std::atomic<bool> stop{false};
    std::atomic<int> audioThread{0};
    std::thread audio([&] {
        audioThread = static_cast<int>(gettid());
        while (!stop)
            std::this_thread::sleep_for(1ms);
    });
    while (audioThread == 0)
        std::this_thread::yield();
    sched_param param{};
    param.sched_priority = 2;
    if (pthread_setschedparam(audio.native_handle(), SCHED_FIFO, &param) != 0) {
        stop = true;
        audio.join();
        GTEST_SKIP() << "SCHED_FIFO is refused here";
    }
    const pid_t host = fork();
    if (host == 0) {
        pause();
        _exit(0);
    }
    EXPECT_EQ(sched_setscheduler(host, SCHED_FIFO, &param), 0); // a host runs as the audio thread
    while (!sleeps(host)) // then it costs nothing: light
        std::this_thread::yield();
    {
        lv2::HostPlacement placement(0ms);
        placement.review(3, host, 0); // the first weighing only measures
        EXPECT_FALSE(placement.keptTogether());
        placement.review(3, host, 0); // a host that sleeps: together
        EXPECT_TRUE(placement.keptTogether());
        EXPECT_EQ(processorsAllowed(audioThread), 1);
        EXPECT_EQ(processorsAllowed(host), 1);
        EXPECT_EQ(priorityOf(host), 1); // below the audio thread it shares a processor with
        placement.review(3, host, lv2::HostPlacement::kLateTolerated); // late by chance
        EXPECT_TRUE(placement.keptTogether());
        const std::uint64_t stuck = 2 * lv2::HostPlacement::kLateTolerated + 1;
        placement.review(3, host, stuck); // late again and again: anywhere, and for a while
        EXPECT_FALSE(placement.keptTogether());
        placement.review(3, host, stuck);
        EXPECT_FALSE(placement.keptTogether());
        EXPECT_EQ(processorsAllowed(audioThread), CPU_COUNT(&all));
        EXPECT_EQ(processorsAllowed(host), CPU_COUNT(&all));
        EXPECT_EQ(priorityOf(host), 2);
    }
    kill(host, SIGKILL);
    waitpid(host, nullptr, 0);
    stop = true;
    audio.join();
}

} // namespace
} // namespace corvane::test
