// Presets of a hosted plug-in: listing the plug-in's own and the user's,
// saving the running state as a preset bundle, applying one while it runs.
#include "platform/lv2/Lv2Effect.h"

#include "platform/lv2/HostFeatures.h"
#include "platform/lv2/UridMap.h"
#include "platform/lv2/Worker.h"
#include "platform/lv2/World.h"
#include "platform/system/Logging.h"

#include <lv2/presets/presets.h>

#include <QDir>
#include <QString>

#include <algorithm>
#include <chrono>
#include <thread>

namespace corvane::lv2 {

namespace {

// What may stand in a file name: letters, digits, '-', the rest becomes '_'.
std::string fileSafe(const std::string& text) {
    std::string out;
    for (unsigned char c : text)
        out += std::isalnum(c) || c == '-' ? static_cast<char>(c) : '_';
    return out.empty() ? "preset" : out;
}

std::string label(LilvWorld* world, const LilvNode* preset) {
    LilvNode* key = lilv_new_uri(world, LILV_NS_RDFS "label");
    LilvNode* value = lilv_world_get(world, preset, key, nullptr);
    std::string text = value ? lilv_node_as_string(value) : "";
    lilv_node_free(value);
    lilv_node_free(key);
    return text;
}

// A render thread that does not finish a period in this long is not running.
constexpr auto kLongestPeriodWait = std::chrono::milliseconds(500);

} // namespace

std::vector<Preset> Lv2Effect::presets() {
    World::Lock lock = World::lock();
    LilvWorld* world = world_->lilv();
    const std::string userPrefix = "file://" + QDir::homePath().toStdString() + "/.lv2/";
    LilvNode* presetClass = lilv_new_uri(world, LV2_PRESETS__Preset);
    LilvNodes* related = lilv_plugin_get_related(plugin_, presetClass);
    std::vector<Preset> found;
    LILV_FOREACH (nodes, it, related) {
        const LilvNode* preset = lilv_nodes_get(related, it);
        lilv_world_load_resource(world, preset);
        Preset p;
        p.uri = lilv_node_as_uri(preset);
        p.label = label(world, preset);
        if (p.label.empty())
            p.label = p.uri;
        p.user = p.uri.rfind(userPrefix, 0) == 0;
        found.push_back(std::move(p));
    }
    lilv_nodes_free(related);
    lilv_node_free(presetClass);
    std::sort(found.begin(), found.end(), [](const Preset& a, const Preset& b) {
        return a.user != b.user ? !a.user : a.label < b.label;
    });
    return found;
}

std::optional<std::string> Lv2Effect::savePreset(const std::string& presetLabel, const std::string& userDir,
                                                 std::string& error) {
    if (presetLabel.empty()) {
        error = "A preset needs a name.";
        return std::nullopt;
    }
    const std::string bundle = userDir + "/" + fileSafe(name_) + "_" + fileSafe(presetLabel) + ".preset.lv2/";
    const std::string file = fileSafe(presetLabel) + ".ttl";
    if (!QDir().mkpath(QString::fromStdString(bundle))) {
        error = "The folder " + bundle + " cannot be made.";
        return std::nullopt;
    }
    World::Lock lock = World::lock();
    UridMap& urids = UridMap::instance();
    stateScratch_.assign(ports_.size(), 0.0f);
    // Saving may run alongside run(): LV2 allows it, and the plug-in's
    // properties are its own business to keep consistent.
    LilvState* state = lilv_state_new_from_instance(plugin_, instance_, urids.mapFeature(), nullptr, bundle.c_str(),
                                                    bundle.c_str(), bundle.c_str(), &Lv2Effect::stateValue, this,
                                                    LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE, features_->features());
    if (!state) {
        error = "The plug-in's state could not be read.";
        return std::nullopt;
    }
    lilv_state_set_label(state, presetLabel.c_str());
    const int failed = lilv_state_save(world_->lilv(), urids.mapFeature(), urids.unmapFeature(), state, nullptr,
                                       bundle.c_str(), file.c_str());
    lilv_state_free(state);
    if (failed) {
        error = "The preset could not be written to " + bundle + ".";
        return std::nullopt;
    }
    // Known at once to this world and to the one later instances come from.
    for (const std::shared_ptr<World>& w : {world_, World::current(lock)}) {
        LilvNode* uri = lilv_new_file_uri(w->lilv(), nullptr, bundle.c_str());
        lilv_world_unload_bundle(w->lilv(), uri);
        lilv_world_load_bundle(w->lilv(), uri);
        lilv_node_free(uri);
    }
    // lilv names the preset after its file; ask it rather than guess the spelling.
    const std::string bundleName = bundle.substr(userDir.size() + 1, bundle.size() - userDir.size() - 2);
    for (const Preset& p : presets())
        if (p.label == presetLabel && p.uri.find(bundleName) != std::string::npos)
            return p.uri;
    error = "The preset was written to " + bundle + " but cannot be read back.";
    return std::nullopt;
}

bool Lv2Effect::loadPreset(const std::string& presetUri, std::string& error) {
    LilvState* state = nullptr;
    bool hasProperties = false;
    {
        World::Lock lock = World::lock();
        LilvNode* uri = lilv_new_uri(world_->lilv(), presetUri.c_str());
        lilv_world_load_resource(world_->lilv(), uri);
        state = lilv_state_new_from_world(world_->lilv(), UridMap::instance().mapFeature(), uri);
        lilv_node_free(uri);
        if (state)
            hasProperties = lilv_state_get_num_properties(state) > 0;
    }
    if (!state) {
        error = "The preset " + presetUri + " cannot be read.";
        return false;
    }
    // The plug-in's own restore() may not overlap run() unless it says so:
    // hold the render thread off the instance for that long (it passes the
    // input through) and wait for the period in flight to end.
    const bool hold = hasProperties && !threadSafeRestore_ &&
                      health_.load(std::memory_order_acquire) == Health::Running;
    if (hold) {
        health_.store(Health::Held, std::memory_order_seq_cst);
        const auto deadline = std::chrono::steady_clock::now() + kLongestPeriodWait;
        while (inProcess_.load(std::memory_order_seq_cst) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (inProcess_.load(std::memory_order_seq_cst)) {
            health_.store(Health::Running, std::memory_order_seq_cst);
            World::Lock lock = World::lock();
            lilv_state_free(state);
            error = "The plug-in is stuck in its processing; the preset was not applied.";
            return false;
        }
    }
    {
        // lilv_state_restore() touches only the state and the instance, so
        // lilv's lock stays free while the plug-in's restore runs: that may
        // load files for as long as it takes. Work it schedules meanwhile is
        // done on this thread, inside the hold.
        auto held = worker_->holdWork();
        lilv_state_restore(state, hasProperties && (hold || threadSafeRestore_) ? instance_ : nullptr,
                           &Lv2Effect::restoreValue, this, 0, features_->features());
    }
    if (hold)
        health_.store(Health::Running, std::memory_order_seq_cst);
    {
        World::Lock lock = World::lock();
        lilv_state_free(state);
    }
    return true;
}

} // namespace corvane::lv2
