// A headless run lives through the device's reconfigurations the way the
// window does, and ends only once the automatic restarts give up.
#include "app/HeadlessRun.h"
#include "platform/hardware/virtual/VirtualBackend.h"
#include "tests/support/ManualTime.h"

#include <QJsonArray>
#include <gtest/gtest.h>

namespace corvane::test {
namespace {

using namespace std::chrono_literals;

TEST(HeadlessRecovery, ARunOutlivesRestartsAndEndsWhenTheyGiveUp) {
    ManualClock clock;
    auto backend = std::make_unique<hw::VirtualBackend>();
    hw::VirtualBackend& device = *backend;
    std::vector<std::unique_ptr<hw::Backend>> backends;
    backends.push_back(std::move(backend));
    hw::AudioHardware hardware(std::move(backends));
    const std::string uid = hw::VirtualBackend::kDefaultUid;
    device.setClockMode(uid, hw::VirtualBackend::ClockMode::Manual);

    HeadlessOptions options;
    options.strips.push_back(StripSpec{1, 1, false, 1, false, {}, false});
    options.seconds = 3600;
    RunInterrupt interrupt;
    std::optional<HeadlessResult> result;
    QStringList warnings;
    const Task run = spawnWith([&]() -> Async<void> {
        result = co_await runHeadless(hardware, clock, options, interrupt,
                                      [&](const QString& warning) { warnings.append(warning); });
    });
    auto playing = [&] { return device.runPeriods(uid, 1); };

    ASSERT_TRUE(runUntil(clock, playing, 5s));
    for (int attempt = 1; attempt <= 3; ++attempt) {
        device.forceReconfiguration(uid);
        ASSERT_TRUE(runUntil(clock, [&] { return !playing(); }, 10ms)) << attempt;
        ASSERT_TRUE(runUntil(clock, playing, 5s)) << "not restarted, attempt " << attempt;
        ASSERT_FALSE(result) << "ended at attempt " << attempt << ": " << result->errorLine.toStdString();
    }
    device.forceReconfiguration(uid);
    ASSERT_TRUE(runUntil(clock, [&] { return result.has_value(); }, 10s));
    EXPECT_EQ(result->exitCode, 1);
    EXPECT_EQ(result->errorLine, "The audio device kept reconfiguring itself, so playback was left stopped. "
                                 "Press Start to try again.");
    EXPECT_FALSE(result->interrupted);
    const QStringList restarting = {"The audio device reconfigured itself - restarting playback…"};
    EXPECT_EQ(warnings, restarting);
    EXPECT_EQ(result->report["warnings"].toArray().toVariantList(), QVariantList{restarting.first()});
    EXPECT_EQ(result->report["error"].toString(), result->errorLine);
}

} // namespace
} // namespace corvane::test
