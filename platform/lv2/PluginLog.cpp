#include "platform/lv2/PluginLog.h"

#include "platform/system/RealtimeScope.h"
#include "platform/lv2/UridMap.h"
#include "platform/system/Logging.h"

#include <QString>

#include <algorithm>
#include <cstdio>

namespace corvane::lv2 {

PluginLog::PluginLog() {
    log_.handle = this;
    log_.printf = &PluginLog::logPrintf;
    log_.vprintf = &PluginLog::logVprintf;
}

int PluginLog::logPrintf(LV2_Log_Handle handle, LV2_URID type, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const int n = logVprintf(handle, type, fmt, args);
    va_end(args);
    return n;
}

int PluginLog::logVprintf(LV2_Log_Handle handle, LV2_URID type, const char* fmt, va_list args) {
    HostCallbackScope host; // may be called from the plug-in's run()
    // Formatting and Qt logging allocate and may block: a message written from
    // run() is dropped rather than risk a dropout.
    if (inRealtimeScope())
        return 0;
    char text[1024];
    const int n = std::vsnprintf(text, sizeof text, fmt, args);
    QString message = QString::fromUtf8(text).trimmed();
    UridMap& urids = UridMap::instance();
    if (type == urids.map(LV2_LOG__Error)) {
        qCWarning(lcLv2, "Plugin error: %s", qUtf8Printable(message));
        static_cast<PluginLog*>(handle)->keepProblem(text);
    } else if (type == urids.map(LV2_LOG__Warning)) {
        qCWarning(lcLv2, "Plugin warning: %s", qUtf8Printable(message));
        static_cast<PluginLog*>(handle)->keepProblem(text);
    } else if (type == urids.map(LV2_LOG__Note)) {
        qCInfo(lcLv2, "Plugin: %s", qUtf8Printable(message));
    } else { // Trace, or a type we do not know
        qCDebug(lcLv2, "Plugin: %s", qUtf8Printable(message));
    }
    return n;
}

void PluginLog::keepProblem(const std::string& message) {
    const std::lock_guard lock(mutex_);
    // One message may hold several lines; each counts as one.
    std::size_t start = 0;
    while (start < message.size()) {
        std::size_t end = message.find('\n', start);
        if (end == std::string::npos)
            end = message.size();
        const QString line = QString::fromUtf8(message.data() + start, qsizetype(end - start)).trimmed();
        start = end + 1;
        // The same line again says nothing new.
        if (line.isEmpty() || std::find(kept_.begin(), kept_.end(), line.toStdString()) != kept_.end())
            continue;
        if (kept_.size() < kKeptProblems) {
            kept_.push_back(line.toStdString());
            problems_.push_back(kept_.back());
        } else {
            ++dropped_;
        }
    }
}

std::vector<std::string> PluginLog::takeProblems() {
    const std::lock_guard lock(mutex_);
    std::vector<std::string> taken = std::move(problems_);
    problems_.clear();
    if (dropped_ > 0)
        taken.push_back("… and " + std::to_string(dropped_) + (dropped_ == 1 ? " more line" : " more lines"));
    dropped_ = 0;
    return taken;
}

} // namespace corvane::lv2
