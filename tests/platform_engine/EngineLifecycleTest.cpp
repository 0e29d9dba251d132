// Binding to a device, starting, stopping, resetting, and announcing changes of
// the device underneath a running graph.
#include "platform/engine/EffectUnit.h"
#include "platform/system/MainThread.h"
#include "tests/platform_engine/EngineRig.h"
#include "tests/platform_engine/TestEffect.h"
#include "tests/support/EventLoop.h"
#include "tests/support/RealtimeChecker.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace corvane;
using namespace corvane::test;

namespace {

class Lifecycle : public ::testing::Test {
protected:
    Lifecycle() {
        test::drainEvents(); // the rig's own setDevice announcement
        QObject::connect(rig.engine.get(), &engine::Engine::configurationChanged, [this] { ++changes; });
        splitter = makeSplitter(8, {0}, rig.sampleRate);
        auto& e = *rig.engine;
        e.attach(splitter);
        EXPECT_TRUE(e.connect(e.inputNode(), 0, *splitter, 0, rig.format(8)));
        EXPECT_TRUE(e.connect(*splitter, 0, e.outputNode(), 0, rig.format(1)));
    }

    void start() {
        std::string error;
        ASSERT_TRUE(rig.engine->start(error)) << error;
    }

    // A period's worth of the first output, or NaN when the callback did not run.
    float firstSample(int period) { return rig.period(rig.inputs(256, period), 256)[0][0]; }

    EngineRig rig;
    std::shared_ptr<engine::MatrixMixerUnit> splitter;
    int changes = 0;
};

} // namespace

TEST_F(Lifecycle, BindingADeviceGivesItsFormatsAndAnnouncesTheMoveAfterwards) {
    auto& e = *rig.engine;
    EXPECT_EQ(e.device(), kDevice);
    EXPECT_EQ(e.hardwareInputFormat(), (engine::Format{8, 48000.0}));
    EXPECT_EQ(e.hardwareOutputFormat(), (engine::Format{8, 48000.0}));
    EXPECT_EQ(e.inputNode().outputFormat(0), (engine::Format{8, 48000.0}));

    e.setDevice(kDevice);
    test::drainEvents();
    EXPECT_EQ(changes, 0) << "already on that device";

    e.setDevice(kOtherDevice);
    EXPECT_EQ(changes, 0) << "announced asynchronously, not inside setDevice";
    test::drainEvents();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(e.hardwareInputFormat(), (engine::Format{2, 44100.0}));
    EXPECT_EQ(e.outputNode().inputFormat(0), (engine::Format{2, 44100.0}));

    rig.backend->remove(kOtherDevice);
    EXPECT_EQ(e.hardwareOutputFormat().channels, 0);
}

TEST_F(Lifecycle, AStartTheDeviceRefusesIsReportedAndLeavesEverythingStopped) {
    rig.backend->refuseNextStart("The device is busy.");
    std::string error;
    EXPECT_FALSE(rig.engine->start(error));
    EXPECT_EQ(error, "The device is busy.");
    EXPECT_FALSE(rig.engine->isRunning());
    EXPECT_FALSE(rig.backend->isRunning(kDevice));
    EXPECT_FALSE(splitter->isRendering());
    EXPECT_TRUE(std::isnan(firstSample(0)));

    start();
    EXPECT_EQ(firstSample(1), sampleAt(0, 0, 1));

    engine::Engine unbound(*rig.hardware);
    EXPECT_FALSE(unbound.start(error));
    EXPECT_EQ(error, "No audio device is selected.");
}

TEST_F(Lifecycle, AUnitThatCannotPrepareFailsTheStartWithItsReason) {
    TestEffectLog log;
    auto effect = std::make_shared<engine::EffectUnit>(std::make_unique<TestEffect>(log, true));
    auto& e = *rig.engine;
    e.attach(effect);
    ASSERT_TRUE(e.connect(*splitter, 0, *effect, 0, rig.format(1)));
    ASSERT_TRUE(e.connect(*effect, 0, e.outputNode(), 0, rig.format(1)));
    std::string error;
    EXPECT_FALSE(e.start(error));
    EXPECT_EQ(error, "Preparing the effect failed: the test effect refuses");
    EXPECT_FALSE(rig.backend->isRunning(kDevice));
}

TEST_F(Lifecycle, StopReturnsWithTheRenderThreadOutAndTheGraphStartsAgain) {
    RealtimeChecker checker;
    start();
    EXPECT_TRUE(splitter->isRendering());
    EXPECT_EQ(firstSample(0), sampleAt(0, 0, 0));
    rig.engine->stop();
    EXPECT_FALSE(rig.engine->isRunning());
    EXPECT_FALSE(rig.backend->isRunning(kDevice));
    EXPECT_FALSE(splitter->isRendering());
    const auto rendered = rig.engine->renderer().periodsRendered();
    EXPECT_TRUE(std::isnan(firstSample(1)));
    EXPECT_EQ(rig.engine->renderer().periodsRendered(), rendered);
    rig.engine->stop(); // stopping twice is harmless

    start();
    EXPECT_EQ(firstSample(2), sampleAt(0, 0, 2));
    rig.engine->stop();
    EXPECT_EQ(checker.violations(), 0u) << checker.report();
}

TEST_F(Lifecycle, TheGraphIsFixedWhileRunningAndResetOnlyWhileStopped) {
    TestEffectLog log;
    auto effect = std::make_shared<engine::EffectUnit>(std::make_unique<TestEffect>(log));
    auto& e = *rig.engine;
    e.attach(effect);
    ASSERT_TRUE(e.connect(*splitter, 0, *effect, 0, rig.format(1)));
    ASSERT_TRUE(e.connect(*effect, 0, e.outputNode(), 0, rig.format(1)));
    start();
    firstSample(0);
    EXPECT_NE(log.lastHistory.load(), 0.0f);

    std::string error;
    EXPECT_FALSE(splitter->setOutputFormat(0, rig.format(2), error));
    EXPECT_FALSE(e.connect(*splitter, 0, e.outputNode(), 0, rig.format(1)));
    EXPECT_FALSE(e.detach(*effect));
    e.reset();
    EXPECT_EQ(log.resets, 0);

    e.stop();
    e.reset();
    EXPECT_EQ(log.resets, 1);
    EXPECT_EQ(log.lastHistory.load(), 0.0f);
    EXPECT_TRUE(splitter->setOutputFormat(0, rig.format(2), error)) << error;
}

TEST_F(Lifecycle, ALoopInTheConnectionsIsRefusedAtPrepare) {
    auto a = std::make_shared<engine::MatrixMixerUnit>();
    auto b = std::make_shared<engine::MatrixMixerUnit>();
    auto& e = *rig.engine;
    e.attach(a);
    e.attach(b);
    ASSERT_TRUE(e.connect(*a, 0, *b, 0, rig.format(1)));
    ASSERT_TRUE(e.connect(*b, 0, *a, 0, rig.format(1)));
    std::string error;
    EXPECT_FALSE(e.prepare(error));
    EXPECT_EQ(error, "The connections form a loop, so the graph cannot be rendered.");
}

TEST_F(Lifecycle, ChangesOfTheDeviceWhileRunningAreAnnouncedOnceOnTheMainThread) {
    struct Case {
        const char* name;
        std::function<void(ManualBackend&)> change;
        int announced;
    };
    const Case cases[] = {
        {"rate change", [](ManualBackend& b) { b.changeSampleRate(kDevice, 44100.0); }, 1},
        {"rate notification without a change",
         [](ManualBackend& b) { b.notifyOnly(kDevice, {hw::Selector::NominalSampleRate}); }, 0},
        {"device removed", [](ManualBackend& b) { b.remove(kDevice); }, 1},
        {"another device removed", [](ManualBackend& b) { b.remove(kOtherDevice); }, 0},
        {"output layout", [](ManualBackend& b) { b.changeOutputChannels(kDevice, 4); }, 1},
        {"reported reconfiguration", [](ManualBackend& b) {
             b.reportConfigurationChange(kDevice);
             b.reportConfigurationChange(kDevice);
         }, 1},
    };
    for (const auto& c : cases) {
        EngineRig fresh;
        int announced = 0;
        bool onMain = true;
        QObject::connect(fresh.engine.get(), &engine::Engine::configurationChanged, [&] {
            ++announced;
            onMain = onMain && isMainThread();
        });
        auto s = makeSplitter(8, {0}, fresh.sampleRate);
        fresh.engine->attach(s);
        ASSERT_TRUE(fresh.engine->connect(fresh.engine->inputNode(), 0, *s, 0, fresh.format(8)));
        std::string error;
        ASSERT_TRUE(fresh.engine->start(error)) << error;
        test::drainEvents();
        announced = 0;

        c.change(*fresh.backend);
        test::drainEvents();
        EXPECT_EQ(announced, c.announced) << c.name;
        EXPECT_TRUE(onMain) << c.name;
        EXPECT_TRUE(fresh.engine->isRunning()) << c.name << ": the owner decides to stop";
    }
}

TEST_F(Lifecycle, NothingIsAnnouncedForChangesAfterStop) {
    start();
    rig.engine->stop();
    rig.backend->changeSampleRate(kDevice, 96000.0);
    rig.backend->reportConfigurationChange(kDevice);
    test::drainEvents();
    EXPECT_EQ(changes, 0);
}

TEST_F(Lifecycle, ALongerPeriodThanTheGraphWasBuiltForPlaysSilenceAndIsAnnounced) {
    RealtimeChecker checker;
    start();
    EXPECT_EQ(rig.engine->maximumFrames(), 256u);
    const Channels out = rig.period(rig.inputs(512, 0), 512);
    for (const auto& channel : out)
        for (float s : channel)
            ASSERT_EQ(s, 0.0f);
    EXPECT_EQ(rig.engine->renderer().periodsOverrun(), 1u);
    ASSERT_TRUE(test::waitFor([&] { return changes == 1; }));

    // The rebuild after the announcement sizes the graph for the new period.
    rig.engine->stop();
    rig.backend->setPeriodFrames(kDevice, 512);
    start();
    EXPECT_EQ(rig.engine->maximumFrames(), 512u);
    EXPECT_EQ(rig.period(rig.inputs(512, 1), 512)[0][511], sampleAt(0, 511, 1));
    rig.engine->stop();
    EXPECT_EQ(checker.violations(), 0u) << checker.report();
}

TEST_F(Lifecycle, TheCheckerCatchesAnEffectThatAllocatesOnTheRenderThread) {
    // Proves the render path really runs inside a real-time scope: the same
    // checker that stays at zero elsewhere sees this effect's allocation.
    class Allocating final : public engine::EffectProcessor {
    public:
        bool prepare(double, std::uint32_t, int, int, std::string&) override { return true; }
        void process(const float* const* in, float* const* out, std::uint32_t frames) noexcept override {
            std::vector<float> copy(in[0], in[0] + frames);
            std::copy(copy.begin(), copy.end(), out[0]);
        }
    };
    auto effect = std::make_shared<engine::EffectUnit>(std::make_unique<Allocating>());
    auto& e = *rig.engine;
    e.attach(effect);
    ASSERT_TRUE(e.connect(*splitter, 0, *effect, 0, rig.format(1)));
    ASSERT_TRUE(e.connect(*effect, 0, e.outputNode(), 0, rig.format(1)));
    start();
    RealtimeChecker checker;
    EXPECT_EQ(firstSample(0), sampleAt(0, 0, 0));
    EXPECT_EQ(checker.violations(), 2u) << checker.report();
}
