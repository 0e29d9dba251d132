#include "platform/system/ThreadScheduling.h"

#include <sched.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <string>

namespace corvane {

int highestRealtimePriority() {
    int highest = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task", error)) {
        const std::string name = entry.path().filename().string();
        pid_t thread = 0;
        if (std::from_chars(name.data(), name.data() + name.size(), thread).ec != std::errc())
            continue;
        sched_param param{};
        // A thread that ended meanwhile answers neither.
        if (sched_getscheduler(thread) == SCHED_FIFO && sched_getparam(thread, &param) == 0)
            highest = std::max(highest, param.sched_priority);
    }
    return highest;
}

} // namespace corvane
