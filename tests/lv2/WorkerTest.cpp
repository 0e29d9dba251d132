// The worker carries requests from the render thread to its own thread and
// the responses back, in order, delivered only inside the render call; the
// render thread's side neither allocates, locks nor waits.
#include "platform/system/RealtimeScope.h"
#include "platform/lv2/RingBuffer.h"
#include "platform/lv2/Worker.h"
#include "tests/support/RealtimeChecker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <chrono>
#include <thread>
#include <vector>

using namespace corvane;
using namespace corvane::lv2;

namespace {

struct FakePlugin {
    std::thread::id renderThread;
    std::atomic<int> workedOnRenderThread{0};
    std::vector<int> responses; // render thread only
    int endRuns = 0;
};

LV2_Worker_Status work(LV2_Handle h, LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle rh,
                       std::uint32_t size, const void* data) {
    auto* plugin = static_cast<FakePlugin*>(h);
    if (std::this_thread::get_id() == plugin->renderThread)
        plugin->workedOnRenderThread++;
    int value = 0;
    std::memcpy(&value, data, size);
    value *= 10;
    return respond(rh, sizeof value, &value);
}

LV2_Worker_Status workResponse(LV2_Handle h, std::uint32_t, const void* data) {
    int value = 0;
    std::memcpy(&value, data, sizeof value);
    static_cast<FakePlugin*>(h)->responses.push_back(value);
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status endRun(LV2_Handle h) {
    static_cast<FakePlugin*>(h)->endRuns++;
    return LV2_WORKER_SUCCESS;
}

const LV2_Worker_Interface iface{work, workResponse, endRun};

} // namespace

TEST(Worker, RequestsFromRunAreWorkedElsewhereAndAnsweredInOrderOnTheRenderThreadWithoutAHostViolation) {
    FakePlugin plugin;
    plugin.renderThread = std::this_thread::get_id();
    Worker worker;
    worker.attach(&plugin, &iface);
    LV2_Worker_Schedule* schedule = worker.scheduleFeature();
    test::RealtimeChecker checker;
    LV2_Worker_Status scheduled[3];
    {
        // As in a period: inside the device callback and the effect, in the plug-in's run().
        corvane::RealtimeScope realtime;
        corvane::PluginCodeScope run;
        for (int i = 1; i <= 3; ++i)
            scheduled[i - 1] = schedule->schedule_work(schedule->handle, sizeof i, &i);
    }
    for (const LV2_Worker_Status status : scheduled)
        EXPECT_EQ(status, LV2_WORKER_SUCCESS);
    // Poll as the render thread would, period after period.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (plugin.responses.size() < 3 && std::chrono::steady_clock::now() < deadline) {
        {
            corvane::RealtimeScope realtime;
            worker.deliverResponses();
        }
        std::this_thread::yield();
    }
    EXPECT_EQ(plugin.responses, (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(plugin.workedOnRenderThread.load(), 0);
    EXPECT_GT(plugin.endRuns, 0);
    EXPECT_EQ(checker.violations(), 0u) << checker.report();
    EXPECT_GT(checker.pluginCalls(), 0u) << "the fake's own allocation in work_response is its own";
}

TEST(Worker, WorkScheduledOutsideRunIsDoneAtOnceButAnsweredOnlyInRunAndWithoutAnInterfaceFailsCleanly) {
    FakePlugin plugin;
    plugin.renderThread = std::thread::id(); // the caller is not rendering here
    Worker worker;
    worker.attach(&plugin, &iface);
    const int request = 7;
    LV2_Worker_Schedule* schedule = worker.scheduleFeature();
    ASSERT_EQ(schedule->schedule_work(schedule->handle, sizeof request, &request), LV2_WORKER_SUCCESS);
    EXPECT_TRUE(plugin.responses.empty());
    worker.deliverResponses();
    EXPECT_EQ(plugin.responses, (std::vector<int>{70}));

    Worker without;
    without.attach(nullptr, nullptr);
    corvane::RealtimeScope realtime;
    EXPECT_NE(without.scheduleFeature()->schedule_work(without.scheduleFeature()->handle, sizeof request, &request),
              LV2_WORKER_SUCCESS);
    without.deliverResponses(); // must not touch a missing interface
}

TEST(RingBuffer, CarriesMessagesAcrossTheWrapAndRefusesWhatDoesNotFit) {
    RingBuffer ring(64);
    unsigned char out[64];
    for (int round = 0; round < 20; ++round) {
        const std::uint32_t size = static_cast<std::uint32_t>(5 + round % 7);
        std::vector<unsigned char> msg(size, static_cast<unsigned char>(round));
        ASSERT_TRUE(ring.write(msg.data(), size));
        ASSERT_EQ(ring.read(out, sizeof out), size);
        ASSERT_EQ(std::vector<unsigned char>(out, out + size), msg) << round;
    }
    std::vector<unsigned char> big(61, 1);
    EXPECT_FALSE(ring.write(big.data(), 61)) << "61 bytes plus a 4-byte header exceed 64";
    EXPECT_EQ(ring.read(out, sizeof out), 0u);
}
