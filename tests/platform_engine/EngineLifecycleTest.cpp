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

// Device input -> splitter (input 0) -> device output 0.
class Lifecycle : public ::testing::Test {
  protected:
    Lifecycle() {
        test::drainEvents(); // the rig's own setDevice announcement
        QObject::connect(rig.engine.get(), &engine::Engine::configurationChanged, [this] { ++changes; });
        e.attach(splitter);
        EXPECT_TRUE(e.connect(e.inputNode(), 0, *splitter, 0, rig.format(8)));
        EXPECT_TRUE(e.connect(*splitter, 0, e.outputNode(), 0, rig.format(1)));
    }

    // Puts `processor` between the splitter and the output.
    std::shared_ptr<engine::EffectUnit> addEffect(std::unique_ptr<engine::EffectProcessor> processor) {
        auto effect = std::make_shared<engine::EffectUnit>(std::move(processor));
        e.attach(effect);
        EXPECT_TRUE(e.connect(*splitter, 0, *effect, 0, rig.format(1)));
        EXPECT_TRUE(e.connect(*effect, 0, e.outputNode(), 0, rig.format(1)));
        return effect;
    }

    // The first output's first sample of a period, NaN when the callback did not run.
    float firstSample(int period) { return rig.period(rig.inputs(256, period), 256)[0][0]; }

    EngineRig rig;
    engine::Engine& e = *rig.engine;
    std::shared_ptr<engine::MatrixMixerUnit> splitter = makeSplitter({0}, rig.sampleRate);
    int changes = 0;
};

} // namespace

TEST_F(Lifecycle, BindingADeviceGivesItsFormatsAndAnnouncesTheMoveAfterwards) {
    engine::Engine fresh(*rig.hardware);
    int freshChanges = 0;
    QObject::connect(&fresh, &engine::Engine::configurationChanged, [&] { ++freshChanges; });
    fresh.setDevice(kDevice);
    test::drainEvents();
    EXPECT_EQ(freshChanges, 0) << "a fresh engine has nothing to move";

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

TEST_F(Lifecycle, RefusedStartsGiveTheirReasonAndLeaveEverythingStopped) {
    std::string error;
    engine::Engine unbound(*rig.hardware);
    EXPECT_FALSE(unbound.start(error));
    EXPECT_EQ(error, "No audio device is selected.");

    rig.backend->refuseNextStart("The device is busy.");
    EXPECT_FALSE(e.start(error));
    EXPECT_EQ(error, "The device is busy.");
    EXPECT_FALSE(e.isRunning());
    EXPECT_FALSE(rig.backend->isRunning(kDevice));
    EXPECT_FALSE(splitter->isRendering());
    EXPECT_TRUE(std::isnan(firstSample(0)));
    rig.start();
    EXPECT_EQ(firstSample(1), sampleAt(0, 0, 1));
    e.stop();

    TestEffectLog log;
    addEffect(std::make_unique<TestEffect>(log, true));
    EXPECT_FALSE(e.start(error));
    EXPECT_EQ(error, "Preparing the effect failed: the test effect refuses");
    EXPECT_FALSE(rig.backend->isRunning(kDevice));

    auto a = std::make_shared<engine::MatrixMixerUnit>();
    auto b = std::make_shared<engine::MatrixMixerUnit>();
    e.attach(a);
    e.attach(b);
    ASSERT_TRUE(e.connect(*a, 0, *b, 0, rig.format(1)));
    ASSERT_TRUE(e.connect(*b, 0, *a, 0, rig.format(1)));
    EXPECT_FALSE(e.prepare(error));
    EXPECT_EQ(error, "The connections form a loop, so the graph cannot be rendered.");
}

TEST_F(Lifecycle, TheGraphIsFixedWhileRunningStopTakesTheRenderThreadOutAndResetWorksOnlyWhileStopped) {
    RealtimeChecker checker;
    TestEffectLog log;
    auto effect = addEffect(std::make_unique<TestEffect>(log));
    rig.start();
    EXPECT_TRUE(splitter->isRendering());
    EXPECT_EQ(firstSample(0), 2.0f * sampleAt(0, 0, 0));
    EXPECT_NE(log.history.load(), 0.0f);

    std::string error;
    EXPECT_FALSE(splitter->setOutputFormat(0, rig.format(2), error));
    EXPECT_FALSE(e.connect(*splitter, 0, e.outputNode(), 0, rig.format(1)));
    EXPECT_FALSE(e.detach(*effect));
    e.reset();
    EXPECT_EQ(log.resets, 0);

    e.stop();
    EXPECT_FALSE(e.isRunning());
    EXPECT_FALSE(rig.backend->isRunning(kDevice));
    EXPECT_FALSE(splitter->isRendering());
    const auto rendered = e.renderer().periodsRendered();
    EXPECT_TRUE(std::isnan(firstSample(1)));
    EXPECT_EQ(e.renderer().periodsRendered(), rendered);
    e.stop(); // stopping twice is harmless
    e.reset();
    EXPECT_EQ(log.resets, 1);
    EXPECT_EQ(log.history.load(), 0.0f);
    EXPECT_TRUE(splitter->setOutputFormat(0, rig.format(2), error)) << error;
    EXPECT_TRUE(splitter->setOutputFormat(0, rig.format(1), error)) << error;
    EXPECT_TRUE(e.detach(*effect));

    ASSERT_TRUE(e.connect(*splitter, 0, e.outputNode(), 0, rig.format(1)));
    rig.start();
    EXPECT_EQ(firstSample(2), sampleAt(0, 0, 2));
    e.stop();
    EXPECT_EQ(checker.violations(), 0u) << checker.report();
}

TEST_F(Lifecycle, ChangesOfTheDeviceWhileRunningAreAnnouncedOnceOnTheMainThreadAndNotAfterStop) {
    using B = ManualBackend&;
    const std::pair<std::function<void(B)>, int> cases[] = {
        {[](B b) { b.changeSampleRate(kDevice, 44100.0); }, 1},
        {[](B b) { b.announce(kDevice, {hw::Selector::NominalSampleRate}); }, 0}, // no real change
        {[](B b) { b.remove(kDevice); }, 1},
        {[](B b) { b.remove(kOtherDevice); }, 0},
        {[](B b) { b.changeOutputChannels(kDevice, 4); }, 1},
        {[](B b) {
             for (int twice = 0; twice < 2; ++twice)
                 b.announce(kDevice, {hw::Selector::ConfigurationChange});
         },
         1},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EngineRig fresh;
        int announced = 0;
        bool onMain = true;
        QObject::connect(fresh.engine.get(), &engine::Engine::configurationChanged, [&] {
            ++announced;
            onMain = onMain && isMainThread();
        });
        fresh.start();
        test::drainEvents();
        announced = 0;
        cases[i].first(*fresh.backend);
        test::drainEvents();
        EXPECT_EQ(announced, cases[i].second) << "case " << i;
        EXPECT_TRUE(onMain) << "case " << i;
        EXPECT_TRUE(fresh.engine->isRunning()) << "case " << i << ": the owner decides to stop";
    }

    rig.start();
    e.stop();
    rig.backend->changeSampleRate(kDevice, 96000.0);
    rig.backend->announce(kDevice, {hw::Selector::ConfigurationChange});
    test::drainEvents();
    EXPECT_EQ(changes, 0);
}

TEST_F(Lifecycle, PeriodsUpToTheDevicesLongestJustPlayAndALongerOneIsSilentAndAnnounced) {
    RealtimeChecker checker;
    rig.start();
    EXPECT_EQ(e.maximumFrames(), 4096u) << "the top of the device's buffer-size range";
    // The device changes its period size while running (a JACK server's buffer
    // size): the new size is simply rendered.
    EXPECT_EQ(rig.period(rig.inputs(512, 0), 512)[0][511], sampleAt(0, 511, 0));
    EXPECT_EQ(rig.period(rig.inputs(32, 1), 32)[0][31], sampleAt(0, 31, 1));
    test::drainEvents();
    EXPECT_EQ(changes, 0);
    // Longer than the device said it could go: there is nowhere to render it.
    for (const auto& channel : rig.period(rig.inputs(8192, 2), 8192))
        ASSERT_EQ(channel, std::vector<float>(8192, 0.0f));
    EXPECT_EQ(e.renderer().periodsOverrun(), 1u);
    ASSERT_TRUE(test::waitFor([&] { return changes == 1; }));
    e.stop();
    EXPECT_EQ(checker.violations(), 0u) << checker.report();
}
