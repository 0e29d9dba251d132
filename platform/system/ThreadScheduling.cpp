#include "platform/system/ThreadScheduling.h"

#include <sched.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <string>

namespace corvane {

namespace {

std::string taskDirectory(int pid) {
    return pid > 0 ? "/proc/" + std::to_string(pid) + "/task" : std::string("/proc/self/task");
}

} // namespace

int highestRealtimePriority() {
    int highest = 0;
    for (int thread : threadsOf(0, true)) {
        sched_param param{};
        // A thread that ended meanwhile answers nothing.
        if (sched_getparam(thread, &param) == 0)
            highest = std::max(highest, param.sched_priority);
    }
    return highest;
}

std::vector<int> threadsOf(int pid, bool realtimeOnly) {
    std::vector<int> threads;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(taskDirectory(pid), error)) {
        const std::string name = entry.path().filename().string();
        int thread = 0;
        if (std::from_chars(name.data(), name.data() + name.size(), thread).ec != std::errc())
            continue;
        if (!realtimeOnly || sched_getscheduler(thread) == SCHED_FIFO)
            threads.push_back(thread);
    }
    return threads;
}

std::uint64_t threadRunNanos(int pid, int thread) {
    std::ifstream stat(taskDirectory(pid) + "/" + std::to_string(thread) + "/schedstat");
    std::uint64_t nanos = 0;
    return stat >> nanos ? nanos : 0;
}

int lastProcessor(int pid, int thread) {
    std::ifstream stat(taskDirectory(pid) + "/" + std::to_string(thread) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return -1;
    // The name in parentheses may hold spaces; the fields after it do not.
    // `at` is at the space before the third field; the processor is the 39th.
    const auto close = line.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::size_t at = close + 1;
    for (int field = 3; field < 39 && at != std::string::npos; ++field)
        at = line.find(' ', at + 1);
    if (at == std::string::npos)
        return -1;
    int processor = -1;
    std::from_chars(line.data() + at + 1, line.data() + line.size(), processor);
    return processor;
}

bool confineThread(int thread, const cpu_set_t& processors) {
    return sched_setaffinity(thread, sizeof(processors), &processors) == 0;
}

} // namespace corvane
