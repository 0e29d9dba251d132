// The dropout count and its flash, on the virtual device's forced overloads
// and the manual clock.
#include "devices/DeviceEnumeration.h"
#include "engine/DropoutMonitor.h"
#include "platform/hardware/virtual/VirtualBackend.h"
#include "tests/support/EventLoop.h"

#include <gtest/gtest.h>

using namespace corvane;
using namespace std::chrono_literals;

TEST(DropoutMonitor, CountsTheWatchedDeviceAndFlashesUntilOneAndAHalfSecondsAfterTheLast) {
    ManualClock clock;
    auto owned = std::make_unique<hw::VirtualBackend>();
    auto* backend = owned.get();
    std::vector<std::unique_ptr<hw::Backend>> backends;
    backends.push_back(std::move(owned));
    hw::AudioHardware hardware(std::move(backends));
    const std::string uid = hw::VirtualBackend::kDefaultUid;
    const hw::ObjectId device = listDevices(hardware).first().id;
    auto monitor = std::make_unique<DropoutMonitor>(hardware, clock);

    // Watching twice still hears each overload once.
    monitor->watch(device);
    monitor->watch(device);
    for (int i = 0; i < 3; ++i) {
        backend->forceOverload(uid);
        ASSERT_TRUE(test::waitFor([&] { return monitor->count() == i + 1; }));
        EXPECT_TRUE(monitor->isActive());
        if (i < 2)
            clock.advance(500ms);
    }
    clock.advance(1499ms);
    EXPECT_TRUE(monitor->isActive());
    clock.advance(1ms);
    EXPECT_FALSE(monitor->isActive());
    test::drainEvents();
    EXPECT_EQ(monitor->count(), 3);

    // A reset during a flash ends it for good.
    monitor->noteDropout();
    monitor->reset();
    EXPECT_FALSE(monitor->isActive());
    EXPECT_EQ(monitor->count(), 0);

    // Not watching keeps the count and hears nothing; watching again starts from none.
    monitor->noteDropout();
    monitor->unwatch();
    backend->forceOverload(uid);
    test::drainEvents();
    EXPECT_EQ(monitor->count(), 1);
    monitor->watch(device);
    EXPECT_EQ(monitor->count(), 0);

    // Going away with a flash up leaves nothing waiting on the clock.
    monitor->noteDropout();
    monitor.reset();
    EXPECT_EQ(clock.pendingTimers(), 0u);
}
