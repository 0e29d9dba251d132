#pragma once
// How busy the machine is, twice a second: the busy share of every logical core
// (the whole system's load, not only ours) and this process's own processor
// time, with the highest value it has reached.
//
// Main thread only. Sampling starts at creation and stops with the object; the
// first values appear after 0.5 s (per-core ones as zeros, true ones from the
// second sample on). A figure that cannot be read leaves its values as they
// were. Properties notify only on a change, so idle values cause no redraw.

#include "platform/system/Clock.h"
#include "platform/system/ProcessorStatistics.h"
#include "platform/system/Task.h"

#include <QList>
#include <QObject>
#include <optional>
#include <vector>

namespace corvane {

class SystemLoadMonitor : public QObject {
    Q_OBJECT
    // This process's processor time over the last interval, in percent of one
    // core: 100 is one core fully used, more is several. Never negative.
    Q_PROPERTY(double cpuUsagePercent READ cpuUsagePercent NOTIFY cpuUsagePercentChanged)
    // The largest cpuUsagePercent since creation; never goes down.
    Q_PROPERTY(double cpuPeakPercent READ cpuPeakPercent NOTIFY cpuPeakPercentChanged)
    // One entry per logical core in the kernel's order: its busy share over the
    // last interval, 0 to 100.
    Q_PROPERTY(QList<double> perCoreUsagePercent READ perCoreUsagePercent NOTIFY perCoreUsagePercentChanged)

public:
    // The machine's own figures on the real clock.
    explicit SystemLoadMonitor(QObject* parent = nullptr);
    // `statistics` and `clock` must outlive the monitor.
    SystemLoadMonitor(ProcessorStatistics& statistics, Clock& clock, QObject* parent = nullptr);
    ~SystemLoadMonitor() override;

    double cpuUsagePercent() const { return cpuUsagePercent_; }
    double cpuPeakPercent() const { return cpuPeakPercent_; }
    const QList<double>& perCoreUsagePercent() const { return perCoreUsagePercent_; }

signals:
    void cpuUsagePercentChanged();
    void cpuPeakPercentChanged();
    void perCoreUsagePercentChanged();

private:
    void takeSample();
    void sampleCores();
    void setCpuUsagePercent(double percent);
    void setCpuPeakPercent(double percent);
    void setPerCoreUsagePercent(QList<double> percents);

    ProcessorStatistics& statistics_;
    Clock& clock_;
    double cpuUsagePercent_ = 0;
    double cpuPeakPercent_ = 0;
    QList<double> perCoreUsagePercent_;
    Task task_;
    // None until this process's time has been read once: a first reading is
    // only a starting point.
    std::optional<double> lastCPUTime_;
    // On the monotonic clock, so a change of the system's date never bends a
    // reading.
    Clock::TimePoint lastSampleDate_;
    std::vector<CoreTicks> previousCoreTicks_;
};

} // namespace corvane
