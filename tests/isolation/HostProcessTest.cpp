// A child that must not outlive us: where its descriptors land, how its end
// is told, and that nothing of it stays once it is gone.

#include "platform/system/HostProcess.h"
#include "platform/system/SharedMemory.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

std::size_t openDescriptorCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

std::unique_ptr<HostProcess> shell(const std::string& script, int regionFd = -1) {
    std::string error;
    auto child = HostProcess::start("/bin/sh", {"-c", script}, regionFd, error);
    EXPECT_TRUE(child) << error;
    return child;
}

TEST(HostProcess, TellsHowItEndedAndLeavesNothing) {
    const std::size_t before = openDescriptorCount();
    {
        std::string error;
        auto region = SharedMemory::create(4096, error);
        ASSERT_TRUE(region) << error;
        // The socket and the region on their numbers, nothing else of ours.
        auto placed = shell("[ -S /dev/fd/3 ] && [ -e /dev/fd/4 ] && ! [ -e /dev/fd/5 ]", region->fd());
        ASSERT_TRUE(placed && placed->waitForEnd(2s));
        EXPECT_EQ(placed->howItEnded(), "exit status 0");

        auto exited = shell("echo first >&2; echo last words >&2; exit 3");
        ASSERT_TRUE(exited && exited->waitForEnd(2s));
        EXPECT_EQ(exited->howItEnded(), "exit status 3");
        for (int i = 0; i < 100 && exited->lastErrorLines().size() < 2; ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_EQ(exited->lastErrorLines(), (std::vector<std::string>{"first", "last words"}));

        auto crashed = shell("kill -SEGV $$");
        ASSERT_TRUE(crashed && crashed->waitForEnd(2s));
        EXPECT_EQ(crashed->howItEnded(), "SIGSEGV");

        std::string error2;
        EXPECT_FALSE(HostProcess::start("/nonexistent/host", {}, -1, error2));
        EXPECT_NE(error2.find("No such file"), std::string::npos) << error2;

        // Still running when it goes: killed and reaped, not left a zombie.
        auto running = shell("exec sleep 30");
        ASSERT_TRUE(running);
        const pid_t pid = running->pid();
        EXPECT_FALSE(running->hasEnded());
        EXPECT_NE(getpgid(pid), getpgrp()) << "the terminal's Ctrl-C would reach it";
        running.reset();
        EXPECT_EQ(::kill(pid, 0), -1);
    }
    EXPECT_EQ(openDescriptorCount(), before);
}

} // namespace
} // namespace corvane::test
