#pragma once
// The machine's own figures: getrusage for this process, /proc/stat for the cores.

#include "platform/system/ProcessorStatistics.h"

#include <string_view>

namespace corvane {

class SystemProcessorStatistics final : public ProcessorStatistics {
public:
    std::optional<double> processCPUTime() override;
    std::optional<std::vector<CoreTicks>> coreTicks() override;

    // The "cpuN" lines of a /proc/stat text (the "cpu" total line is not a
    // core). None when there is no such line or one cannot be read.
    static std::optional<std::vector<CoreTicks>> parseCoreTicks(std::string_view procStat);

    static SystemProcessorStatistics& instance();
};

} // namespace corvane
