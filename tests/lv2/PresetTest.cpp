// Presets: one saved from a running plug-in is an LV2 bundle under ~/.lv2 that
// a fresh lilv world finds, and applied to a fresh instance while it runs it
// reproduces the output sample for sample; one whose restore hands work to
// the plug-in's worker is applied too, instead of hanging.
#include "tests/lv2/Lv2TestSupport.h"

#include <lv2/presets/presets.h>

#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

using namespace corvane;
using namespace corvane::test;

namespace {

// HOME points at a scratch folder while it lives.
struct ScratchHome {
    QTemporaryDir dir;
    std::string old = getenv("HOME") ? getenv("HOME") : "";
    ScratchHome() { setenv("HOME", dir.path().toUtf8().constData(), 1); }
    ~ScratchHome() { setenv("HOME", old.c_str(), 1); }
    std::string lv2() const { return dir.path().toStdString() + "/.lv2"; }
};

// The presets of `pluginUri` a fresh lilv world finds on `path`, as labels by URI.
std::map<std::string, std::string> presetsSeenBy(const std::string& path, const std::string& pluginUri) {
    const std::string old = getenv("LV2_PATH") ? getenv("LV2_PATH") : "";
    setenv("LV2_PATH", path.c_str(), 1);
    LilvWorld* world = lilv_world_new();
    lilv_world_load_all(world);
    setenv("LV2_PATH", old.c_str(), 1);
    std::map<std::string, std::string> found;
    LilvNode* uri = lilv_new_uri(world, pluginUri.c_str());
    LilvNode* presetClass = lilv_new_uri(world, LV2_PRESETS__Preset);
    LilvNode* label = lilv_new_uri(world, LILV_NS_RDFS "label");
    if (const LilvPlugin* plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world), uri)) {
        LilvNodes* related = lilv_plugin_get_related(plugin, presetClass);
        LILV_FOREACH (nodes, it, related) {
            const LilvNode* preset = lilv_nodes_get(related, it);
            lilv_world_load_resource(world, preset);
            LilvNode* text = lilv_world_get(world, preset, label, nullptr);
            found[lilv_node_as_uri(preset)] = text ? lilv_node_as_string(text) : "";
            lilv_node_free(text);
        }
        lilv_nodes_free(related);
    }
    lilv_node_free(label);
    lilv_node_free(presetClass);
    lilv_node_free(uri);
    lilv_world_free(world);
    return found;
}

} // namespace

TEST(Presets, ASavedPresetIsFoundByLilvAndReproducesTheOutputSampleForSampleOnAFreshRunningInstance) {
    ScratchHome home;
    auto first = loadEffect(gainUri);
    ASSERT_TRUE(first);
    std::string error;
    ASSERT_TRUE(prepared(*first, 48000, 256, 1, 1));
    ASSERT_TRUE(first->setParameter(portOf(*first, "gain"), 2.75f));
    const std::vector<float> in = ramp(256);
    const auto expected = runBlock(*first, {in}, 1);

    const auto uri = first->savePreset("Loud & clear", home.lv2(), error);
    ASSERT_TRUE(uri) << error;
    const auto seen = presetsSeenBy(home.lv2() + ":" + CORVANE_LV2_FIXTURE_DIR, gainUri);
    ASSERT_EQ(seen.count(*uri), 1u) << *uri;
    EXPECT_EQ(seen.at(*uri), "Loud & clear");
    bool listed = false;
    for (const lv2::Preset& p : first->presets())
        listed |= p.uri == *uri && p.user && p.label == "Loud & clear";
    EXPECT_TRUE(listed) << "this process knows it at once";
    EXPECT_FALSE(first->savePreset("", home.lv2(), error));

    // A fresh instance, as after Stop and Start, kept running on a thread of
    // its own while the preset (with the plug-in's own state) is applied.
    auto second = loadEffect(gainUri);
    ASSERT_TRUE(prepared(second, 48000, 256, 1, 1));
    EXPECT_NE(runBlock(*second, {in}, 1), expected);
    std::atomic<bool> stop{false};
    std::thread render([&] {
        const std::vector<float> silence(256, 0.0f);
        while (!stop)
            runBlock(*second, {silence}, 1);
    });
    const bool loaded = second->loadPreset(*uri, error);
    stop = true;
    render.join();
    ASSERT_TRUE(loaded) << error;
    EXPECT_EQ(runBlock(*second, {in}, 1), expected);
    EXPECT_FALSE(second->loadPreset("urn:corvane:test:no-such-preset", error));
}

TEST(Presets, OneWhoseRestoreSchedulesWorkIsAppliedToTheRunningPluginWithoutHanging) {
    // The fixture's restore hands the file its state names to its worker, as
    // a convolver does with its impulse response.
    ScratchHome home;
    const std::string restoringUri = "urn:corvane:test:restoring";
    auto first = loadEffect(restoringUri);
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->restoreState("<urn:corvane:effect-state> a pset:Preset ; lv2:appliesTo <" + restoringUri +
                                    "> ; state:state [ <urn:corvane:test:restoring#file> "
                                    "\"/nonexistent/hall.wav\"^^atom:Path ] ."));
    std::string error;
    const auto uri = first->savePreset("Hall", home.lv2(), error);
    ASSERT_TRUE(uri) << error;

    auto second = loadEffect(restoringUri);
    ASSERT_TRUE(prepared(second, 48000, 256, 1, 1));
    std::atomic<bool> stop{false};
    std::thread render([&] {
        const std::vector<float> silence(256, 0.0f);
        while (!stop)
            runBlock(*second, {silence}, 1);
    });
    std::promise<bool> loaded;
    std::future<bool> result = loaded.get_future();
    std::thread loader([&] { loaded.set_value(second->loadPreset(*uri, error)); });
    if (result.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        // The loader is stuck with locks nothing can take back from it.
        ADD_FAILURE() << "loading the preset did not return";
        std::fflush(nullptr);
        std::_Exit(1);
    }
    loader.join();
    stop = true;
    render.join();
    ASSERT_TRUE(result.get()) << error;
    const std::vector<std::string> logged = second->takeLoggedProblems();
    ASSERT_FALSE(logged.empty()) << "the work the restore scheduled was done";
    EXPECT_EQ(logged.front(), "cannot open /nonexistent/hall.wav: No such file or directory");
}
