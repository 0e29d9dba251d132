// Strips running real LV2 effects (the project's fixtures and Debian's mda-lv2)
// inside the manager-built graph on the virtual device.
#include "platform/lv2/IsolatedEffect.h"
#include "platform/lv2/Lv2Effect.h"
#include "tests/engine/StallFixtureControl.h"
#include "tests/engine/VirtualRig.h"
#include "tests/support/EventLoop.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ManagerPeer.h"
#include "tests/support/RealtimeChecker.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <future>
#include <thread>

using namespace corvane;
using namespace std::chrono_literals;
using test::kVirtual;
namespace virt = hw::virt;

namespace {

const PluginComponent gain{"urn:corvane:test:gain", "Fixture Gain", "Corvane Tests", false};
const PluginComponent stereo{"urn:corvane:test:stereo", "Fixture Stereo", "Corvane Tests", true};
const PluginComponent delay{"urn:corvane:test:latency", "Fixture Latency", "Corvane Tests", false};
const PluginComponent refuses{"urn:corvane:test:refuses", "Fixture Refuses", "Corvane Tests", false};
const PluginComponent stall{"urn:corvane:test:stall", "Fixture Stall", "Corvane Tests", false};
const PluginComponent strict{"urn:corvane:test:strict", "Fixture Strict", "Corvane Tests", false};
const PluginComponent restoring{"urn:corvane:test:restoring", "Fixture Restoring", "Corvane Tests", false};

// Fixture bundles first, then Debian's plug-ins; set before the first lilv world.
const bool pathSet = [] {
    const std::string path = std::string(CORVANE_LV2_FIXTURE_DIR) + ":/usr/lib/lv2";
    return setenv("LV2_PATH", path.c_str(), 1) == 0;
}();

lv2::Lv2Effect& effectOf(ChannelSlot& slot) {
    return dynamic_cast<lv2::Lv2Effect&>(slot.effectNode()->processor());
}

std::uint32_t port(const lv2::HostedEffect& effect, const std::string& symbol) {
    for (const auto& p : effect.parameters())
        if (p.symbol == symbol)
            return p.portIndex;
    ADD_FAILURE() << "no port " << symbol;
    return 0;
}

struct Rig : test::VirtualRig {
    explicit Rig(double rate = 48000, std::uint32_t frames = 256) {
        EXPECT_TRUE(pathSet);
        manager->setSampleRate(rate);
        manager->setBufferFrames(frames);
        for (std::uint32_t c = 0; c < 8; ++c)
            device->setInputSignal(kVirtual, c, virt::Noise{0.2, 7 + c});
    }
    // Renders `periods` periods and returns what input `in` and output `out` carried.
    std::pair<std::vector<float>, std::vector<float>> take(std::uint64_t periods, std::uint32_t in, std::uint32_t out) {
        device->startRecording(kVirtual, periods * manager->actualBufferFrames().value_or(256));
        render(periods);
        device->stopRecording(kVirtual);
        return {device->recordedInput(kVirtual, in), device->recordedOutput(kVirtual, out)};
    }
};

} // namespace

TEST(PluginHosting, AStripsEffectIsHeardMeteredOnBothSidesAndBypassedThroughTheManager) {
    const std::uint32_t frames = 512; // two periods: less than one collection of the meters
    Rig rig(96000, frames);
    auto& slot = rig.strip(0);
    rig.route(0, 0, false, 0, false);
    slot.setComponent(gain);
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(rig.manager->isRunning()) << rig.manager->errorMessage().value_or("").toStdString();
    auto& effect = effectOf(slot);
    effect.setParameter(port(effect, "gain"), 2.5f);

    test::RealtimeChecker checker;
    auto [in, out] = rig.take(2, 0, 0);
    ASSERT_EQ(out.size(), 2u * frames);
    for (std::size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], in[i] * 2.5f) << "frame " << i;

    // The input meter reads the signal entering the effect, the output meter the signal leaving it.
    LevelStore::Reading input, output;
    ASSERT_TRUE(test::waitFor([&] {
        rig.clock.advance(33ms);
        test::drainEvents();
        input.peak = std::max(input.peak, slot.inputLevel().peak);
        output.peak = std::max(output.peak, slot.outputLevel().peak);
        return input.peak > 0 && output.peak > 0;
    }));
    EXPECT_NEAR(output.peak, 2.5f * input.peak, 1e-5f);

    // Once its fade is over, the bypassed effect passes the input untouched.
    rig.manager->setBypass(slot, true);
    std::tie(in, out) = rig.take(2, 0, 0);
    EXPECT_EQ(std::vector<float>(out.begin() + frames, out.end()), std::vector<float>(in.begin() + frames, in.end()));
    EXPECT_EQ(checker.violations(), 0u) << checker.report();
}

TEST(PluginHosting, TheEffectsLatencyReachesTheEstimate) {
    Rig rig;
    rig.route(0, 0, false, 0, false);
    rig.strip(0).setComponent(delay);
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(test::runUntil(rig.clock, [&] { return rig.manager->latencyEstimate().has_value(); }, 1s));
    EXPECT_DOUBLE_EQ(rig.manager->latencyEstimate()->pluginSeconds, 64.0 / 48000.0);
}

TEST(PluginHosting, SettingsSurviveRestartsUntilAnotherEffectIsChosen) {
    Rig rig;
    auto& slot = rig.strip(0);
    rig.route(0, 0, false, 0, false);
    slot.setComponent(gain);
    slot.setBypassFlag(true); // set before start: the new effect starts bypassed, with no fade
    ASSERT_TRUE(rig.start());
    auto [in, out] = rig.take(1, 0, 0);
    EXPECT_EQ(out, in);
    rig.manager->setBypass(slot, false);
    effectOf(slot).setParameter(port(effectOf(slot), "gain"), 3.0f);

    ASSERT_TRUE(rig.start()); // stops (saving the state) and builds again
    ASSERT_TRUE(slot.lastPluginState());
    EXPECT_EQ(effectOf(slot).parameter(port(effectOf(slot), "gain")), 3.0f);
    std::tie(in, out) = rig.take(1, 0, 0);
    EXPECT_EQ(out[10], in[10] * 3.0f) << "starts unbypassed, with no fade";

    rig.manager->stop();
    EXPECT_FALSE(slot.effectNode());
    slot.setComponent(gain); // the same effect again: settings kept
    EXPECT_TRUE(slot.lastPluginState());
    slot.setComponent(stereo); // another one: its settings are not the old one's
    EXPECT_FALSE(slot.lastPluginState());
    slot.setComponent(gain);
    ASSERT_TRUE(rig.start());
    EXPECT_EQ(effectOf(slot).parameter(port(effectOf(slot), "gain")), 1.0f);

    // Saved settings that do not decode leave the effect at its defaults.
    rig.manager->stop();
    slot.setLastPluginState(QByteArray("not a state at all"));
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(rig.manager->isRunning());
    EXPECT_EQ(effectOf(slot).parameter(port(effectOf(slot), "gain")), 1.0f);
}

TEST(PluginHosting, AnEffectThatWillNotLoadStopsTheWholeStartAsAPluginFailure) {
    Rig rig;
    rig.route(0, 0, false, 0, false); // a plain strip that would have worked
    rig.route(2, 1, false, 1, false);
    rig.strip(2).setComponent(refuses);
    test::LogCapture log;
    ASSERT_TRUE(rig.start());
    EXPECT_FALSE(rig.manager->isRunning());
    EXPECT_FALSE(rig.manager->errorMessage());
    const auto failure = rig.manager->pluginLoadFailure();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->slotID, 2);
    EXPECT_EQ(failure->pluginName, "Fixture Refuses");
    EXPECT_FALSE(failure->reason.isEmpty());
    EXPECT_TRUE(log.contains("Plugin “Fixture Refuses” failed to load on channel 3: " + failure->reason));
    EXPECT_TRUE(test::ManagerPeer::splitters(*rig.manager).isEmpty());

    // A later start that fails the same way makes a new record.
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(rig.manager->pluginLoadFailure());
    EXPECT_NE(rig.manager->pluginLoadFailure()->id, failure->id);
}

TEST(PluginHosting, WhileALaterEffectLoadsAStopAbandonsTheStartWithWhatLoadedAndSettingsGivenAreKept) {
    test::StallFixtureControl fixture;
    ASSERT_TRUE(fixture.ok());
    Rig rig;
    rig.route(0, 0, false, 0, false);
    rig.route(1, 1, false, 1, false);
    rig.strip(0).setComponent(strict);
    rig.strip(1).setComponent(stall);
    // Starts, and does `meanwhile` once the first effect has loaded and the second is loading.
    auto startAndThen = [&](const std::function<void()>& meanwhile) {
        fixture.hold(1);
        Task start = spawn(rig.manager->start(false));
        const bool loading = test::runBeside(rig.clock, [&] { return fixture.loading() == 1; });
        meanwhile();
        fixture.hold(0);
        ASSERT_TRUE(loading);
        ASSERT_TRUE(test::runUntil(rig.clock, [&] { return start.isDone(); }));
    };

    ASSERT_NO_FATAL_FAILURE(startAndThen([&] { rig.manager->stop(); }));
    EXPECT_FALSE(rig.manager->isRunning());
    EXPECT_FALSE(rig.strip(0).effectNode());
    EXPECT_FALSE(rig.manager->errorMessage() || rig.manager->pluginLoadFailure());

    // Settings an opened setup gives then are for the next build: the loaded
    // effect's own do not replace them when it stops.
    const QByteArray given("settings from an opened setup");
    ASSERT_NO_FATAL_FAILURE(startAndThen([&] { rig.strip(0).replacePluginState(given); }));
    ASSERT_TRUE(rig.manager->isRunning());
    rig.manager->stop();
    EXPECT_EQ(rig.strip(0).lastPluginState(), given);

    // A start that goes through, then a stop: every unit goes with the engine.
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(rig.manager->isRunning());
    std::weak_ptr<engine::EffectUnit> unit = rig.strip(1).effectNode();
    std::weak_ptr<MatrixMixerNode> splitter = test::ManagerPeer::splitters(*rig.manager).first();
    rig.manager->stop();
    EXPECT_TRUE(unit.expired());
    EXPECT_TRUE(splitter.expired());
}

TEST(PluginHosting, APlugInThatStopsRespondingStopsPlaybackWithItsNameAndLeavesTheRestUsable) {
    test::StallFixtureControl fixture;
    ASSERT_TRUE(fixture.ok());
    Rig rig;
    rig.manager->setStallPatience(100ms);
    rig.device->setClockMode(kVirtual, hw::VirtualBackend::ClockMode::Paced);
    rig.route(0, 0, false, 0, false);
    rig.strip(0).setComponent(stall);
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(rig.manager->isRunning());
    effectOf(rig.strip(0)).setParameter(port(effectOf(rig.strip(0)), "stall"), 1.0f);
    const bool stopped = test::runBeside(rig.clock, [&] { return !rig.manager->isRunning(); });
    EXPECT_EQ(rig.manager->errorMessage(),
              QString("“Fixture Stall” on channel 1 stopped responding - playback was stopped."));
    // A new start gets a new instance on a new engine; the hung one's state
    // (stall on) was never asked for, so it does not come back.
    const bool restarted = rig.start() && rig.manager->isRunning();
    fixture.release(); // lets the stuck thread go before the process ends
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(restarted);
    rig.manager->stop();
    std::this_thread::sleep_for(50ms); // for the released thread to leave what it was left with
}

TEST(PluginHosting, AnEffectStuckRestoringItsSettingsFailsTheStartWhileTheMainThreadGoesOn) {
    // Its settings name a FIFO as the file to load: opening it waits for a
    // writer, which comes once the start has given up (or after half a
    // minute, should the restore hold the main thread).
    QTemporaryDir dir;
    const std::string fifo = dir.filePath("ir.wav").toStdString();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::promise<void> gaveUp;
    std::thread writer([&, done = gaveUp.get_future()] {
        done.wait_for(30s);
        ::close(::open(fifo.c_str(), O_WRONLY));
    });
    Rig rig;
    rig.route(0, 0, false, 0, false);
    rig.strip(0).setComponent(restoring);
    rig.strip(0).setLastPluginState(QByteArray::fromStdString(
        "<urn:corvane:effect-state> a pset:Preset ; lv2:appliesTo <urn:corvane:test:restoring> ; state:state [ "
        "<urn:corvane:test:restoring#file> \"" + fifo + "\"^^atom:Path ] ."));
    const Task start = spawn(rig.manager->start(false));
    const bool ended = test::runBeside(rig.clock, [&] { return start.isDone(); });
    gaveUp.set_value();
    writer.join();
    ASSERT_TRUE(ended);
    ASSERT_TRUE(rig.manager->pluginLoadFailure());
    EXPECT_EQ(rig.manager->pluginLoadFailure()->reason,
              "“Fixture Restoring” did not finish restoring its settings within 10 seconds.");
    EXPECT_FALSE(rig.manager->isRunning());
    EXPECT_FALSE(rig.strip(0).effectNode());
}

TEST(PluginHosting, AnEffectGoneNaNIsResetAndCountedAndAnImpossibleLatencyIsNamedAndIgnored) {
    Rig rig;
    rig.route(0, 0, false, 0, false);
    rig.route(1, 1, false, 1, false);
    rig.strip(0).setComponent(gain);
    rig.strip(1).setComponent(PluginComponent{"urn:corvane:test:delay", "Fixture Delay", "", false});
    // Saved settings that make the delay claim a latency of 1e9 frames (over
    // five hours; lilv cannot write a float as large as 1e30 into a state).
    ASSERT_TRUE(rig.start());
    auto& delayEffect = effectOf(rig.strip(1));
    delayEffect.setParameter(port(delayEffect, "claim"), 1e9f);
    ASSERT_TRUE(rig.start());
    test::LogCapture log;
    ASSERT_TRUE(rig.start());
    rig.render(1);
    ASSERT_TRUE(test::runUntil(rig.clock, [&] { return rig.manager->latencyEstimate().has_value(); }, 1s));
    EXPECT_EQ(rig.manager->latencyEstimate()->pluginSeconds, 0.0);
    EXPECT_EQ(log.count("Plugin “Fixture Delay” on channel 2 reports a latency of 1e+09 frames"), 1);

    auto& gainEffect = effectOf(rig.strip(0));
    gainEffect.setParameter(port(gainEffect, "poison"), 1.0f);
    rig.render(3);
    gainEffect.setParameter(port(gainEffect, "poison"), 0.0f);
    EXPECT_EQ(rig.manager->nonFinitePeriods(0), 1u);
    test::runFor(rig.clock, 40ms); // one meter tick
    EXPECT_TRUE(log.contains("Plugin “Fixture Gain” on channel 1 produced audio that is not a number; it was reset"));
    auto [in, out] = rig.take(1, 0, 0);
    EXPECT_EQ(out[5], in[5]) << "running again";
    rig.manager->stop();
    EXPECT_EQ(rig.manager->nonFinitePeriods(0), 1u) << "kept for the report after the run";
}

TEST(PluginHosting, AnIsolatedPlugInThatCrashesLeavesItsStripDryWhileTheOtherStripsAndPlaybackGoOn) {
    const std::uint32_t frames = 4096; // a deadline (60 ms) a busy machine keeps
    Rig rig(48000, frames);
    rig.manager->setIsolation(true);
    rig.manager->setPluginHostProgram(CORVANE_PLUGIN_HOST);
    rig.route(0, 0, false, 0, false);
    rig.route(1, 1, false, 1, false);
    rig.strip(0).setComponent(PluginComponent{"urn:corvane:test:segfault", "Fixture Segfault", "", false});
    rig.strip(1).setComponent(gain);
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(rig.manager->isRunning()) << rig.manager->errorMessage().value_or("").toStdString();
    auto& crashing = *rig.strip(0).effect();
    crashing.setParameter(port(crashing, "after"), 3.0f);
    auto& healthy = *rig.strip(1).effect();
    healthy.setParameter(port(healthy, "gain"), 0.5f);

    // Strip 2 is what it would be without the crash, strip 1 its input.
    auto playsOn = [&](std::uint64_t periods) {
        rig.device->startRecording(kVirtual, periods * frames);
        rig.render(periods);
        rig.device->stopRecording(kVirtual);
        const auto in1 = rig.device->recordedInput(kVirtual, 0), out1 = rig.device->recordedOutput(kVirtual, 0);
        const auto in2 = rig.device->recordedInput(kVirtual, 1), out2 = rig.device->recordedOutput(kVirtual, 1);
        ASSERT_EQ(out2.size(), periods * frames);
        for (std::size_t i = 0; i < out2.size(); ++i) {
            ASSERT_EQ(out2[i], in2[i] * 0.5f) << "frame " << i;
            ASSERT_EQ(out1[i], in1[i]) << "frame " << i;
        }
    };
    test::LogCapture log;
    // Learnt as the host ends, without waiting for a meter tick (the clock stands still).
    auto faultKnown = [&] {
        return test::waitFor([&] {
            test::drainEvents();
            return !rig.strip(0).pluginFault().isEmpty();
        });
    };
    playsOn(8);
    ASSERT_TRUE(faultKnown());
    EXPECT_EQ(rig.manager->warningMessage(),
              QString("“Fixture Segfault” on channel 1 crashed - the strip plays its input unprocessed."));
    // How it ended (SIGSEGV, or exit status 1 where the address sanitizer takes the signal) is
    // logged with the mark, whichever the socket or the process told first.
    EXPECT_TRUE(log.contains("Fixture Segfault crashed: ")) << log.messages().join('\n').toStdString();
    EXPECT_EQ(rig.strip(0).pluginFault(), "crashed");
    EXPECT_EQ(rig.strip(1).pluginFault(), "");
    playsOn(2);
    EXPECT_TRUE(rig.manager->isRunning());

    // Restarted, it plays again with the values it had: so it fails again three periods on.
    ASSERT_TRUE(rig.manager->restartPlugin(0)) << rig.manager->warningMessage().value_or("").toStdString();
    EXPECT_EQ(rig.strip(0).pluginFault(), "");
    EXPECT_EQ(rig.manager->warningMessage(), std::nullopt);
    playsOn(6);
    ASSERT_TRUE(faultKnown());
    EXPECT_EQ(rig.strip(0).pluginFault(), "crashed");
    EXPECT_FALSE(rig.manager->restartPlugin(1)) << "strip 2 still plays";
    rig.manager->stop();
    EXPECT_EQ(rig.strip(0).pluginFault(), "") << "the mark goes with the graph";
}

TEST(PluginHosting, AnIsolatedPlugInsSettledEditsOutliveItsHost) {
    Rig rig;
    rig.manager->setIsolation(true);
    rig.manager->setPluginHostProgram(CORVANE_PLUGIN_HOST);
    auto& slot = rig.strip(0);
    rig.route(0, 0, false, 0, false);
    slot.setComponent(gain);
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(rig.manager->isRunning()) << rig.manager->errorMessage().value_or("").toStdString();
    auto* effect = dynamic_cast<lv2::IsolatedEffect*>(slot.effect());
    ASSERT_TRUE(effect);
    test::runFor(rig.clock, 100ms);
    effect->setParameter(port(*effect, "gain"), 3.0f);
    // The host's plug-in takes it with the next period it answers in time.
    ASSERT_TRUE(test::waitFor([&] {
        const auto late = effect->latePeriods();
        rig.render(1);
        return effect->latePeriods() == late;
    }));
    // A host slow to save (here stopped, no period outstanding) holds up no
    // turn of the main thread: the settled state is asked for, and taken
    // when it comes.
    const auto before = slot.lastPluginState();
    ASSERT_EQ(::kill(effect->hostPid(), SIGSTOP), 0);
    const auto start = std::chrono::steady_clock::now();
    test::runFor(rig.clock, SettledEdits::kSettleTime + 200ms);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms) << "the main thread waited (a request: 5 s)";
    EXPECT_EQ(slot.lastPluginState(), before);
    ::kill(effect->hostPid(), SIGCONT);
    EXPECT_TRUE(test::waitFor([&] {
        test::drainEvents();
        return slot.lastPluginState() != before;
    }));
    EXPECT_FALSE(effect->hasFailed());

    // A host whose socket closes while it still runs is ended, and told as
    // one that crashed; it has no settings to give at the stop: the next
    // start loads those fetched once the edit had settled.
    test::LogCapture log;
    ASSERT_EQ(::kill(effect->hostPid(), SIGSTOP), 0);
    ASSERT_EQ(::shutdown(effect->channelFd(), SHUT_RDWR), 0);
    ASSERT_TRUE(test::waitFor([&] {
        test::drainEvents();
        return !slot.pluginFault().isEmpty();
    }));
    EXPECT_TRUE(log.contains("Fixture Gain crashed: SIGKILL")) << log.messages().join('\n').toStdString();
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(slot.effect());
    EXPECT_EQ(slot.effect()->parameter(port(*slot.effect(), "gain")), 3.0f);
}

TEST(PluginHosting, AnIsolatedPlugInThatCrashesWhileSavingAtStopKeepsItsSettledSettings) {
    Rig rig;
    rig.manager->setIsolation(true);
    rig.manager->setPluginHostProgram(CORVANE_PLUGIN_HOST);
    auto& slot = rig.strip(0);
    rig.route(0, 0, false, 0, false);
    slot.setComponent(PluginComponent{"urn:corvane:test:savecrash", "Fixture Crashing Save", "", false});
    ASSERT_TRUE(rig.start());
    auto* effect = dynamic_cast<lv2::IsolatedEffect*>(slot.effect());
    ASSERT_TRUE(effect);
    test::runFor(rig.clock, 100ms);
    // One save to come through (the settled edit's), the stop's to abort.
    effect->setParameter(port(*effect, "after"), 1.0f);
    ASSERT_TRUE(test::waitFor([&] {
        rig.render(1); // the host takes the value with a period
        test::runFor(rig.clock, SettledEdits::kSettleTime);
        test::drainEvents();
        return slot.lastPluginState().has_value();
    }));
    rig.manager->stop();
    EXPECT_TRUE(slot.lastPluginState().has_value());
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(slot.effect());
    EXPECT_EQ(slot.effect()->parameter(port(*slot.effect(), "after")), 1.0f);
}

TEST(PluginHosting, AStopAsksEveryIsolatedPlugInAtOnceAndKeepsTheSettledSettingsOfThoseThatHang) {
    Rig rig;
    rig.manager->setIsolation(true);
    rig.manager->setPluginHostProgram(CORVANE_PLUGIN_HOST);
    for (int s = 0; s < 3; ++s) {
        rig.route(s, s, false, s, false);
        rig.strip(s).setComponent(gain);
    }
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(rig.manager->isRunning()) << rig.manager->errorMessage().value_or("").toStdString();
    auto gainOf = [&](int s) { return rig.strip(s).effect()->parameter(port(*rig.strip(s).effect(), "gain")); };
    test::runFor(rig.clock, 100ms); // the values they start with are seen
    // Settled at 3 and fetched, then strip 1 changed again, unsettled.
    for (int s = 0; s < 3; ++s)
        rig.strip(s).effect()->setParameter(port(*rig.strip(s).effect(), "gain"), 3.0f);
    ASSERT_TRUE(test::waitFor([&] {
        rig.render(1); // the hosts take the values with a period
        test::runFor(rig.clock, SettledEdits::kSettleTime);
        test::drainEvents();
        return rig.strip(1).lastPluginState().has_value() && rig.strip(2).lastPluginState().has_value();
    }));
    rig.strip(0).effect()->setParameter(port(*rig.strip(0).effect(), "gain"), 0.25f);
    ASSERT_TRUE(test::waitFor([&] {
        const auto late = rig.strip(0).effect()->latePeriods();
        rig.render(1);
        return rig.strip(0).effect()->latePeriods() == late;
    }));
    for (int s : {1, 2})
        ASSERT_EQ(::kill(dynamic_cast<lv2::IsolatedEffect&>(*rig.strip(s).effect()).hostPid(), SIGSTOP), 0);

    test::LogCapture log;
    const auto start = std::chrono::steady_clock::now();
    rig.manager->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3500ms) << "each hung host waited for in turn";
    EXPECT_TRUE(log.contains("“Fixture Gain” on channel 3 did not give its settings in time and was ended"));
    ASSERT_TRUE(rig.start());
    EXPECT_EQ(gainOf(0), 0.25f) << "the answering host's settings are those at the stop";
    EXPECT_EQ(gainOf(1), 3.0f);
    EXPECT_EQ(gainOf(2), 3.0f);
}

TEST(PluginHosting, ADebianDelayInTheGraphKeepsTheHostOffTheHeap) {
    Rig rig(48000, 64);
    rig.route(0, 0, true, 0, true);
    rig.strip(0).setComponent(PluginComponent{"http://drobilla.net/plugins/mda/Delay", "MDA Delay", "", false});
    ASSERT_TRUE(rig.start());
    ASSERT_TRUE(rig.manager->isRunning());
    test::RealtimeChecker checker;
    rig.render(200);
    EXPECT_EQ(checker.violations(), 0u) << checker.report();
    RecordProperty("PluginCalls", int(checker.pluginCalls()));
}

TEST(PluginHosting, LearningMapsTheNextControllerMovedAndTheStripsSwitchFollowsWhatMidiDid) {
    Rig rig;
    auto& slot = rig.strip(0);
    rig.route(0, 0, false, 0, false);
    slot.setComponent(gain);
    ASSERT_TRUE(rig.start());
    auto& effect = effectOf(slot);
    auto& midi = rig.manager->midiControl();
    // The test's thread stands in for the audio thread, under the same rules.
    test::RealtimeChecker checker;
    auto send = [&](std::vector<std::uint8_t> bytes) {
        RealtimeScope realtime;
        midi.receive(bytes.data(), std::uint32_t(bytes.size()));
    };
    std::optional<MidiMapping> learned;
    QObject::connect(&midi, &MidiControl::learned, [&](const MidiMapping& m) { learned = m; });

    // A port takes a controller, not a note; on any channel.
    midi.learn({0, "gain"});
    send({0x90, 60, 100, 0xB3, 7, 127});
    rig.clock.advance(30ms);
    ASSERT_TRUE(learned);
    const MidiMapping gainOnCc7{{MidiKind::ControlChange, 7, 0}, {0, "gain"}, SwitchMode::Latching, false};
    EXPECT_EQ(midi.mappings(), QList<MidiMapping>{gainOnCc7});
    send({0xB0, 7, 0});
    EXPECT_EQ(effect.parameter(port(effect, "gain")), 0.0f);
    const auto [in, out] = rig.take(1, 0, 0); // heard from the next period on, all of it
    EXPECT_EQ(out, std::vector<float>(in.size(), 0.0f));

    // The switch takes a note, momentary; the window's switch shows what it did.
    midi.learn({0, {}});
    send({0x90, 61, 90});
    rig.clock.advance(30ms);
    EXPECT_EQ(midi.mappings().size(), 2);
    send({0x90, 61, 90, 0x80, 61, 0});
    EXPECT_TRUE(effect.isBypassed());
    rig.clock.advance(30ms);
    EXPECT_TRUE(slot.bypass());
    EXPECT_EQ(midi.eventsApplied(), 2u);
    EXPECT_EQ(checker.violations(), 0u) << checker.report();
}
