#include "monitor/SystemLoadMonitor.h"

#include "platform/system/SystemProcessorStatistics.h"

#include <QPointer>

#include <algorithm>

namespace corvane {

using namespace std::chrono_literals;

SystemLoadMonitor::SystemLoadMonitor(QObject* parent)
    : SystemLoadMonitor(SystemProcessorStatistics::instance(), SystemClock::instance(), parent) {}

SystemLoadMonitor::SystemLoadMonitor(ProcessorStatistics& statistics, Clock& clock, QObject* parent)
    : QObject(parent), statistics_(statistics), clock_(clock), lastCPUTime_(statistics.processCPUTime()),
      lastSampleDate_(clock.now()) {
    // The loop holds the monitor only through a guard; the destructor cancels
    // it, which ends the sleep without touching the monitor again.
    QPointer<SystemLoadMonitor> self(this);
    task_ = spawnWith([self, &clock]() -> Async<void> {
        while (!co_await currentTaskCancelled()) {
            if (!co_await sleepFor(clock, 500ms))
                co_return;
            if (self)
                self->takeSample();
        }
    });
}

SystemLoadMonitor::~SystemLoadMonitor() { task_.cancel(); }

void SystemLoadMonitor::takeSample() {
    const auto now = clock_.now();
    const double dt = std::chrono::duration<double>(now - lastSampleDate_).count();
    if (!(dt > 0))
        return;
    // A failed read keeps the last figure and the last sample time, so the next
    // good one covers the whole stretch since the last good one.
    if (const auto cpu = statistics_.processCPUTime()) {
        if (lastCPUTime_) {
            setCpuUsagePercent(std::max(0.0, (*cpu - *lastCPUTime_) / dt * 100));
            setCpuPeakPercent(std::max(cpuPeakPercent_, cpuUsagePercent_));
        }
        lastCPUTime_ = *cpu;
        lastSampleDate_ = now;
    }
    sampleCores();
}

void SystemLoadMonitor::sampleCores() {
    auto ticks = statistics_.coreTicks();
    if (!ticks)
        return;
    // Cores came or went (or this is the first sample): nothing to compare
    // with, so every core shows 0 until the next sample.
    if (ticks->size() != previousCoreTicks_.size()) {
        previousCoreTicks_ = std::move(*ticks);
        setPerCoreUsagePercent(QList<double>(qsizetype(previousCoreTicks_.size()), 0.0));
        return;
    }
    QList<double> percents;
    percents.reserve(qsizetype(ticks->size()));
    for (std::size_t i = 0; i < ticks->size(); ++i) {
        const CoreTicks& now = (*ticks)[i];
        const CoreTicks& before = previousCoreTicks_[i];
        // Unsigned 32-bit differences: right across a counter's wrap.
        const auto delta = [](std::uint32_t after, std::uint32_t earlier) { return std::uint32_t(after - earlier); };
        const double busy = double(delta(now.user, before.user)) + double(delta(now.system, before.system)) +
                            double(delta(now.nice, before.nice));
        const double total = busy + double(delta(now.idle, before.idle));
        percents.append(total > 0 ? busy / total * 100 : 0.0);
    }
    previousCoreTicks_ = std::move(*ticks);
    setPerCoreUsagePercent(std::move(percents));
}

void SystemLoadMonitor::setCpuUsagePercent(double percent) {
    if (cpuUsagePercent_ == percent)
        return;
    cpuUsagePercent_ = percent;
    emit cpuUsagePercentChanged();
}

void SystemLoadMonitor::setCpuPeakPercent(double percent) {
    if (cpuPeakPercent_ == percent)
        return;
    cpuPeakPercent_ = percent;
    emit cpuPeakPercentChanged();
}

void SystemLoadMonitor::setPerCoreUsagePercent(QList<double> percents) {
    if (perCoreUsagePercent_ == percents)
        return;
    perCoreUsagePercent_ = std::move(percents);
    emit perCoreUsagePercentChanged();
}

} // namespace corvane
