#include "platform/system/SystemProcessorStatistics.h"

#include <sys/resource.h>

#include <array>
#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>
#include <string>

namespace corvane {

namespace {

double seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }

// A "cpuN" line's counters, in /proc/stat's column order.
enum Column { User, Nice, System, Idle, IOWait, IRQ, SoftIRQ, Steal, ColumnCount };

// Folds the kernel's states into the four the load figure is made of, where
// busy = user + system + nice and idle is the rest:
// - guest time is already inside user and nice (guest and guest_nice repeat it);
// - irq and softirq are the core working for the kernel: system;
// - steal is time a hypervisor gave the core to someone else: not idle for
//   us, and what makes audio late in a virtual machine, so it counts as system;
// - iowait is the core idle while a task waits for a device: idle. The kernel
//   may move time between idle and iowait after the fact, so iowait alone can
//   step backwards; their sum keeps growing.
// The 64-bit counts are cut to 32 bits, which keeps every difference exact.
CoreTicks fold(const std::array<std::uint64_t, ColumnCount>& c) {
    const auto cut = [](std::uint64_t v) { return std::uint32_t(v); };
    return CoreTicks{
        .user = cut(c[User]),
        .system = cut(c[System] + c[IRQ] + c[SoftIRQ] + c[Steal]),
        .idle = cut(c[Idle] + c[IOWait]),
        .nice = cut(c[Nice]),
    };
}

// Parses the counters after a line's name. Kernels older than ours have fewer
// columns; the first four are always there and missing ones count as 0.
std::optional<CoreTicks> parseCounters(std::string_view rest) {
    std::array<std::uint64_t, ColumnCount> columns{};
    std::size_t n = 0;
    const char* p = rest.data();
    const char* end = rest.data() + rest.size();
    while (n < ColumnCount) {
        while (p != end && *p == ' ')
            ++p;
        if (p == end)
            break;
        const auto [next, error] = std::from_chars(p, end, columns[n]);
        if (error != std::errc())
            return std::nullopt;
        p = next;
        ++n;
    }
    if (n <= Idle)
        return std::nullopt;
    return fold(columns);
}

} // namespace

std::optional<double> SystemProcessorStatistics::processCPUTime() {
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) != 0)
        return std::nullopt;
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::optional<std::vector<CoreTicks>> SystemProcessorStatistics::coreTicks() {
    std::ifstream file("/proc/stat");
    if (!file)
        return std::nullopt;
    // /proc files report no size: read to the end.
    std::ostringstream text;
    text << file.rdbuf();
    return parseCoreTicks(text.str());
}

std::optional<std::vector<CoreTicks>> SystemProcessorStatistics::parseCoreTicks(std::string_view procStat) {
    std::vector<CoreTicks> cores;
    while (!procStat.empty()) {
        const auto eol = procStat.find('\n');
        const auto line = procStat.substr(0, eol);
        procStat.remove_prefix(eol == std::string_view::npos ? procStat.size() : eol + 1);
        if (!line.starts_with("cpu") || line.size() < 4 || !std::isdigit(static_cast<unsigned char>(line[3])))
            continue;
        const auto name = line.find(' ');
        if (name == std::string_view::npos)
            return std::nullopt;
        const auto ticks = parseCounters(line.substr(name));
        if (!ticks)
            return std::nullopt;
        cores.push_back(*ticks);
    }
    if (cores.empty())
        return std::nullopt;
    return cores;
}

SystemProcessorStatistics& SystemProcessorStatistics::instance() {
    static SystemProcessorStatistics statistics;
    return statistics;
}

} // namespace corvane
