#pragma once
// The LV2 log one plug-in instance is given. What the plug-in says goes to
// corvane.lv2; its errors and warnings (a file it could not load) are also
// kept for whoever reports on the plug-in, the first few of them and a count
// of the rest, so a plug-in that complains on and on cannot flood a report.
// Warnings count: x42's convolvers say that their file did not load as one.

#include <lv2/log/log.h>
#include <lv2/urid/urid.h>

#include <cstdarg>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace corvane::lv2 {

class PluginLog {
public:
    // Different lines kept over the instance's life; later ones are counted.
    static constexpr std::size_t kKeptProblems = 10;

    PluginLog();
    PluginLog(const PluginLog&) = delete;
    PluginLog& operator=(const PluginLog&) = delete;

    // The feature's data, handed to the plug-in. It may call it from any
    // thread; what it logs from inside run() is dropped (see logVprintf).
    LV2_Log_Log* feature() { return &log_; }

    // Any thread but the render thread. The lines of errors and warnings kept
    // since the last call, each trimmed and none twice, and after them one
    // saying how many other lines there were.
    std::vector<std::string> takeProblems();

private:
    static int logPrintf(LV2_Log_Handle handle, LV2_URID type, const char* fmt, ...);
    static int logVprintf(LV2_Log_Handle handle, LV2_URID type, const char* fmt, va_list args);
    void keepProblem(const std::string& message);

    LV2_Log_Log log_{};
    std::mutex mutex_;
    std::vector<std::string> kept_;     // every line kept, taken or not
    std::vector<std::string> problems_; // kept and not yet taken
    std::size_t dropped_ = 0;           // other lines past the kept ones, since the last take
};

} // namespace corvane::lv2
