// A plug-in's own editor without a window: the messages between editor and
// plug-in through the UI link, in order and off the heap on the render side;
// the fixture editor shown, fed and cleaned up; editors that cannot start.
#include "platform/lv2/PluginUi.h"
#include "platform/lv2/UridMap.h"
#include "tests/fixtures/lv2/FixtureUiProbe.h"
#include "tests/lv2/Lv2TestSupport.h"
#include "tests/support/RealtimeChecker.h"

#include <lv2/atom/atom.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

using namespace corvane;
using namespace corvane::test;

namespace {

constexpr const char* controlsUri = "urn:corvane:test:controls";
enum : std::uint32_t { Mode = 2, Steps = 3, Cutoff = 4, Boost = 5, Level = 6, AtomIn = 7, AtomOut = 8 };

struct Message {
    std::uint32_t port;
    std::uint32_t protocol;
    float value;
    std::int32_t atomBody;
};

std::vector<Message> drainForUi(lv2::Lv2Effect& effect) {
    std::vector<Message> got;
    effect.uiLink().receiveForUi([&](std::uint32_t port, std::uint32_t protocol, const void* body, std::uint32_t size) {
        Message m{port, protocol, NAN, 0};
        if (protocol == 0 && size == sizeof(float))
            std::memcpy(&m.value, body, sizeof(float));
        else if (size == sizeof(LV2_Atom) + sizeof(std::int32_t))
            std::memcpy(&m.atomBody, static_cast<const char*>(body) + sizeof(LV2_Atom), sizeof(std::int32_t));
        got.push_back(m);
    });
    return got;
}

struct IntAtom {
    LV2_Atom atom;
    std::int32_t body;
};

IntAtom intAtom(std::int32_t value) {
    return {{sizeof(std::int32_t), lv2::UridMap::instance().map(LV2_ATOM__Int)}, value};
}

std::unique_ptr<lv2::Lv2Effect> preparedControls() {
    auto effect = loadEffect(controlsUri, 48000, 256);
    EXPECT_TRUE(prepared(effect, 48000, 256, 1, 1));
    return effect;
}

FixtureUiProbe* fixtureProbe() {
    const std::string path = std::string(CORVANE_LV2_FIXTURE_DIR) + "/controls.lv2/fixtureui.so";
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); // the host's handle, counted once more
    auto probe = lib ? reinterpret_cast<FixtureUiProbeFunction>(dlsym(lib, "corvane_fixture_ui_probe")) : nullptr;
    return probe ? probe() : nullptr;
}

} // namespace

TEST(PluginUiLink, EditorMessagesReachThePlugInInOrderAndItsNewsReachTheEditorAtTheUpdateRate) {
    auto effect = preparedControls();
    ASSERT_TRUE(effect);
    lv2::Lv2Effect& e = *effect;
    const std::uint32_t transfer = e.eventTransferType();
    const float one = 1.0f, five = 5.0f, six = 6.0f, nan = NAN;
    const IntAtom atom = intAtom(42);
    // What the plug-in cannot take is refused at the door.
    EXPECT_FALSE(e.writeFromUi(Level, 0, &one, sizeof one)) << "an output";
    EXPECT_FALSE(e.writeFromUi(Boost, 0, &one, 2)) << "a short float";
    EXPECT_FALSE(e.writeFromUi(Boost, 0, &nan, sizeof nan));
    EXPECT_FALSE(e.writeFromUi(Boost, transfer, &atom, sizeof atom)) << "an atom for a control";
    EXPECT_FALSE(e.writeFromUi(AtomOut, transfer, &atom, sizeof atom)) << "an atom output";
    EXPECT_FALSE(e.writeFromUi(99, 0, &one, sizeof one));

    e.attachUi({AtomOut});
    ASSERT_TRUE(e.writeFromUi(Boost, 0, &one, sizeof one));
    ASSERT_TRUE(e.writeFromUi(Steps, 0, &five, sizeof five));
    ASSERT_TRUE(e.writeFromUi(Steps, 0, &six, sizeof six)); // the later one wins
    ASSERT_TRUE(e.writeFromUi(AtomIn, transfer, &atom, sizeof atom));
    EXPECT_EQ(e.parameter(Boost), 0.0f) << "nothing applied before the render thread takes it";

    const std::vector<float> in = ramp(256);
    std::vector<std::vector<float>> out;
    {
        RealtimeChecker checker;
        out = runBlock(e, {in}, 1);
        EXPECT_EQ(checker.violations(), 0u) << checker.report();
    }
    for (std::size_t i = 0; i < in.size(); ++i)
        ASSERT_EQ(out[0][i], 2.0f * in[i]) << "boosted from this very period, frame " << i;
    EXPECT_EQ(e.parameter(Steps), 6.0f);

    // First the atom the plug-in echoed, then every control value once.
    auto got = drainForUi(e);
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0].port, AtomOut);
    EXPECT_EQ(got[0].protocol, transfer);
    EXPECT_EQ(got[0].atomBody, 42);
    std::map<std::uint32_t, float> values;
    for (std::size_t i = 1; i < got.size(); ++i)
        values[got[i].port] = got[i].value;
    EXPECT_EQ(values, (std::map<std::uint32_t, float>{
                          {Mode, 1.0f}, {Steps, 6.0f}, {Cutoff, 1000.0f}, {Boost, 1.0f}, {Level, *std::max_element(out[0].begin(), out[0].end())}}));

    // Within a thirtieth of a second nothing more; then only what changed,
    // and never back what the editor itself set.
    const float zero = 0.0f;
    ASSERT_TRUE(e.writeFromUi(Boost, 0, &zero, sizeof zero));
    runBlock(e, {in}, 1);
    EXPECT_TRUE(drainForUi(e).empty());
    for (int i = 0; i < 6; ++i)
        runBlock(e, {ramp(256, 0.5f)}, 1);
    got = drainForUi(e);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].port, Level);

    e.detachUi();
    ASSERT_TRUE(e.writeFromUi(AtomIn, transfer, &atom, sizeof atom));
    for (int i = 0; i < 8; ++i)
        runBlock(e, {ramp(256, 0.1f)}, 1);
    EXPECT_TRUE(drainForUi(e).empty()) << "a detached editor is sent nothing";
}

TEST(PluginUiLink, TheFixtureEditorIsShownFedAndCleanedUpAndEditorsThatCannotStartSayWhy) {
    auto effect = preparedControls();
    ASSERT_TRUE(effect);
    const auto choice = lv2::PluginUi::choose(*effect, false);
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->kind, lv2::PluginUi::Kind::Show);
    EXPECT_EQ(choice->atomPortsToUi, std::vector<std::uint32_t>{AtomOut}) << "the declared notification";

    std::vector<std::pair<int, int>> asked;
    std::string error;
    auto ui = lv2::PluginUi::create(*effect, *choice, 0, [&](int w, int h) { asked.emplace_back(w, h); }, error);
    ASSERT_TRUE(ui) << error;
    FixtureUiProbe* probe = fixtureProbe();
    ASSERT_NE(probe, nullptr);
    const int instances = probe->instances, cleanups = probe->cleanups;
    EXPECT_GE(probe->zeroResizeRefused, 1) << "a 0 × 0 request is refused";
    EXPECT_EQ(asked, (std::vector<std::pair<int, int>>{{300, 200}}));
    EXPECT_EQ(ui->preferredWidth(), 300);
    EXPECT_EQ(ui->preferredHeight(), 200);
    // It starts from the values the plug-in runs with.
    bool sawCutoff = false;
    for (int i = 0; i < probe->eventCount; ++i)
        sawCutoff |= probe->events[i].port == Cutoff && probe->events[i].value == 1000.0f;
    EXPECT_TRUE(sawCutoff);

    EXPECT_TRUE(ui->show());
    const float on = 1.0f;
    ASSERT_TRUE(probe->write(Boost, sizeof on, 0, &on)); // as a user turning it on
    const std::vector<float> in = ramp(256);
    EXPECT_EQ(runBlock(*effect, {in}, 1)[0][7], 2.0f * in[7]);
    probe->eventCount = 0;
    EXPECT_TRUE(ui->idle());
    ASSERT_GT(probe->eventCount, 0) << "idle() delivers the plug-in's news";
    probe->closeRequested = true;
    EXPECT_FALSE(ui->idle()) << "the UI's own window was shut";
    probe->closeRequested = false;
    ui.reset();
    EXPECT_EQ(probe->cleanups, cleanups + 1);
    EXPECT_EQ(probe->instances, instances);
    EXPECT_FALSE(probe->write(Boost, sizeof on, 0, &on)) << "no editor left to write";

    for (const char* uri : {"urn:corvane:test:uirefuses", "urn:corvane:test:uimissing"}) {
        auto other = loadEffect(uri);
        ASSERT_TRUE(other);
        const auto broken = lv2::PluginUi::choose(*other, true);
        ASSERT_TRUE(broken) << uri;
        error.clear();
        EXPECT_FALSE(lv2::PluginUi::create(*other, *broken, 0, {}, error)) << uri;
        EXPECT_NE(error.find(std::string(uri).ends_with("missing") ? "absent.so" : "refused"), std::string::npos)
            << error;
    }
    EXPECT_FALSE(lv2::PluginUi::choose(*loadEffect(gainUri), true)) << "no editor of its own";
}
