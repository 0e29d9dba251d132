// The load monitor on scripted figures and the manual clock: process load and
// its peak, per-core shares, and what a stopped clock or a failed read leaves.
#include "monitor/SystemLoadMonitor.h"
#include "tests/support/EventLoop.h"
#include "tests/support/ManualTime.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace corvane;
using namespace std::chrono_literals;

namespace {

struct ScriptedStatistics final : ProcessorStatistics {
    std::optional<double> cpuTime = 0.0;
    std::optional<std::vector<CoreTicks>> cores = std::vector<CoreTicks>{};
    std::optional<double> processCPUTime() override { return cpuTime; }
    std::optional<std::vector<CoreTicks>> coreTicks() override { return cores; }
};

// Reads the manual clock's time, or a time held still, while its timers keep
// firing as the manual clock moves: a clock that has stopped between samples.
class HoldableClock final : public Clock {
public:
    explicit HoldableClock(ManualClock& base) : base_(base) {}
    void hold(Duration offset = {}) { held_ = base_.now() + offset; }
    void release() { held_.reset(); }

    TimePoint now() const override { return held_.value_or(base_.now()); }
    TimerId callAt(TimePoint deadline, std::function<void()> fn) override {
        return base_.callAt(base_.now() + (deadline - now()), std::move(fn));
    }
    void cancelTimer(TimerId id) override { base_.cancelTimer(id); }

private:
    ManualClock& base_;
    std::optional<TimePoint> held_;
};

class SystemLoadMonitorTest : public ::testing::Test {
protected:
    void TearDown() override {
        monitor.reset();
        test::drainEvents();
        EXPECT_EQ(manual.pendingTimers(), 0u) << "sampling goes on after the monitor is gone";
    }
    void sampleAfter(Clock::Duration d) { test::runFor(manual, d); }

    ScriptedStatistics statistics;
    ManualClock manual;
    HoldableClock clock{manual};
    std::unique_ptr<SystemLoadMonitor> monitor;
};

CoreTicks ticks(std::uint32_t user, std::uint32_t system, std::uint32_t idle, std::uint32_t nice) {
    return {.user = user, .system = system, .idle = idle, .nice = nice};
}

} // namespace

TEST_F(SystemLoadMonitorTest, ReportsProcessTimePerWallTimeAndKeepsThePeak) {
    statistics.cpuTime = 10.0;
    statistics.cores = {{ticks(1, 1, 1, 1)}}; // standing still throughout
    monitor = std::make_unique<SystemLoadMonitor>(statistics, clock);
    QSignalSpy usageSpy(monitor.get(), &SystemLoadMonitor::cpuUsagePercentChanged);
    QSignalSpy peakSpy(monitor.get(), &SystemLoadMonitor::cpuPeakPercentChanged);
    QSignalSpy coresSpy(monitor.get(), &SystemLoadMonitor::perCoreUsagePercentChanged);

    statistics.cpuTime = 11.5;
    sampleAfter(499ms);
    EXPECT_EQ(monitor->cpuUsagePercent(), 0.0) << "no sample before 0.5 s";
    sampleAfter(1ms);
    EXPECT_DOUBLE_EQ(monitor->cpuUsagePercent(), 300.0); // 1.5 s on several cores over 0.5 s
    EXPECT_DOUBLE_EQ(monitor->cpuPeakPercent(), 300.0);

    statistics.cpuTime = 11.75;
    sampleAfter(500ms);
    EXPECT_DOUBLE_EQ(monitor->cpuUsagePercent(), 50.0);
    EXPECT_DOUBLE_EQ(monitor->cpuPeakPercent(), 300.0);

    statistics.cpuTime = 11.0; // a time that went backwards is no load at all
    sampleAfter(500ms);
    EXPECT_EQ(monitor->cpuUsagePercent(), 0.0);
    statistics.cpuTime = 11.0;
    sampleAfter(500ms);
    EXPECT_EQ(usageSpy.count(), 3) << "an unchanged value notifies nobody";
    EXPECT_EQ(peakSpy.count(), 1);
    EXPECT_EQ(coresSpy.count(), 1);
}

TEST_F(SystemLoadMonitorTest, ComputesEachCoresBusyShareFromItsTickDeltas) {
    statistics.cores = {{ticks(100, 100, 100, 100), ticks(5, 5, 5, 5)}};
    monitor = std::make_unique<SystemLoadMonitor>(statistics, clock);
    sampleAfter(500ms);
    EXPECT_EQ(monitor->perCoreUsagePercent(), (QList<double>{0, 0})) << "the first sample only sets the base";

    statistics.cores = {{ticks(130, 110, 160, 100), ticks(5, 5, 5, 5)}};
    sampleAfter(500ms);
    EXPECT_EQ(monitor->perCoreUsagePercent(), (QList<double>{40, 0})) << "a core that did not move reads 0";

    // Nice counts as busy; a counter that passed 2^32 still gives its true delta.
    statistics.cores = {{ticks(130, 0xFFFFFFF0, 180, 110), ticks(5, 5, 15, 5)}};
    sampleAfter(500ms);
    statistics.cores = {{ticks(150, 0x00000010, 220, 120), ticks(5, 5, 25, 5)}};
    sampleAfter(500ms);
    EXPECT_EQ(monitor->perCoreUsagePercent(), (QList<double>{(20.0 + 32 + 10) / (20 + 32 + 10 + 40) * 100, 0}));

    // A core came online: one round of zeros, then true shares again.
    statistics.cores = {{ticks(200, 0x10, 220, 120), ticks(5, 5, 25, 5), ticks(0, 0, 0, 0)}};
    sampleAfter(500ms);
    EXPECT_EQ(monitor->perCoreUsagePercent(), (QList<double>{0, 0, 0}));
    statistics.cores = {{ticks(210, 0x10, 250, 120), ticks(5, 5, 25, 5), ticks(1, 1, 0, 0)}};
    sampleAfter(500ms);
    EXPECT_EQ(monitor->perCoreUsagePercent(), (QList<double>{25, 0, 100}));
}

TEST_F(SystemLoadMonitorTest, FailedReadsAndAClockThatHasNotAdvancedLeaveTheLastValuesAndTheNextSampleSpansTheGap) {
    statistics.cpuTime = std::nullopt;
    statistics.cores = std::nullopt;
    monitor = std::make_unique<SystemLoadMonitor>(statistics, clock);
    statistics.cpuTime = 5.0;
    sampleAfter(500ms);
    EXPECT_EQ(monitor->cpuUsagePercent(), 0.0) << "the first time read is only a starting point";
    EXPECT_TRUE(monitor->perCoreUsagePercent().isEmpty());

    statistics.cpuTime = 5.25;
    statistics.cores = {{ticks(0, 0, 0, 0)}};
    sampleAfter(500ms);
    statistics.cpuTime = 5.5;
    statistics.cores = {{ticks(1, 0, 3, 0)}};
    sampleAfter(500ms);
    ASSERT_EQ(monitor->cpuUsagePercent(), 50.0);
    ASSERT_EQ(monitor->perCoreUsagePercent(), (QList<double>{25}));

    statistics.cpuTime = std::nullopt;
    statistics.cores = std::nullopt;
    sampleAfter(500ms);
    EXPECT_EQ(monitor->cpuUsagePercent(), 50.0);
    EXPECT_EQ(monitor->perCoreUsagePercent(), (QList<double>{25}));
    // The next good reads span both intervals.
    statistics.cpuTime = 7.5;
    statistics.cores = {{ticks(4, 0, 3, 0)}};
    sampleAfter(500ms);
    EXPECT_DOUBLE_EQ(monitor->cpuUsagePercent(), 200.0);
    EXPECT_EQ(monitor->perCoreUsagePercent(), (QList<double>{100}));

    // A clock that stands still, or goes back, changes nothing...
    statistics.cpuTime = 8.5;
    statistics.cores = {{ticks(10, 0, 6, 0)}};
    clock.hold();
    sampleAfter(500ms);
    clock.hold(-1s);
    sampleAfter(500ms);
    EXPECT_EQ(monitor->cpuUsagePercent(), 200.0);
    EXPECT_EQ(monitor->cpuPeakPercent(), 200.0);
    EXPECT_EQ(monitor->perCoreUsagePercent(), (QList<double>{100}));
    // ...and moving again, it measures from the last sample it took.
    clock.release();
    sampleAfter(500ms);
    EXPECT_DOUBLE_EQ(monitor->cpuUsagePercent(), 1.0 / 1.5 * 100);
    EXPECT_DOUBLE_EQ(monitor->perCoreUsagePercent().value(0), 6.0 / 9 * 100);
}
