#include "platform/lv2/Lv2Effect.h"

#include "platform/engine/ChannelRule.h"
#include "platform/system/RealtimeScope.h"
#include "platform/engine/VectorOps.h"

#include "platform/lv2/HostFeatures.h"
#include "platform/lv2/UridMap.h"
#include "platform/lv2/Worker.h"
#include "platform/lv2/World.h"
#include "platform/system/StderrCapture.h"

#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/state/state.h>
#include <lv2/units/units.h>
#include <lv2/worker/worker.h>

#include <QDir>
#include <QString>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace corvane::lv2 {

namespace {

// Big enough for every Debian plug-in seen so far (fil4 wants 2272 bytes);
// a port that asks for more through rsz:minimumSize gets that.
constexpr std::uint32_t defaultAtomCapacity = 8192;

// No real plug-in delays by more; a larger report is a broken one.
constexpr double kMaxLatencySeconds = 10.0;
// An editor redraws its meters about this often; sending control values more
// often only fills the ring.
constexpr double kUiUpdatesPerSecond = 30.0;
constexpr std::size_t kUiLinkBytes = 1 << 18;

std::string inQuotes(const std::string& name) { return "\u201C" + name + "\u201D"; }

std::string nodeString(const LilvNode* node) {
    const char* s = node ? lilv_node_as_string(node) : nullptr;
    return s ? s : "";
}

std::string takeString(LilvNode* node) {
    std::string s = nodeString(node);
    lilv_node_free(node);
    return s;
}

float takeFloat(LilvNode* node, float fallback) {
    float v = fallback;
    if (node && (lilv_node_is_float(node) || lilv_node_is_int(node)))
        v = lilv_node_as_float(node);
    lilv_node_free(node);
    return v;
}

// A port's unit is a URI from the units vocabulary or a node of the plug-in's
// own; either way its units:symbol is what a person reads.
std::string unitSymbol(LilvWorld* world, const LilvPlugin* plugin, const LilvPort* port) {
    LilvNode* unitKey = lilv_new_uri(world, LV2_UNITS__unit);
    LilvNode* symbolKey = lilv_new_uri(world, LV2_UNITS__symbol);
    std::string symbol;
    if (LilvNode* unit = lilv_port_get(plugin, port, unitKey)) {
        symbol = takeString(lilv_world_get(world, unit, symbolKey, nullptr));
        // Without the units bundle on the search path the standard units
        // have no symbol; the common ones are known here.
        static const std::pair<const char*, const char*> known[] = {
            {LV2_UNITS__db, "dB"}, {LV2_UNITS__hz, "Hz"}, {LV2_UNITS__khz, "kHz"}, {LV2_UNITS__ms, "ms"},
            {LV2_UNITS__s, "s"},   {LV2_UNITS__pc, "%"},  {LV2_UNITS__bpm, "BPM"}, {LV2_UNITS__cent, "ct"}};
        for (const auto& [uri, text] : known)
            if (symbol.empty() && lilv_node_is_uri(unit) && nodeString(unit) == uri)
                symbol = text;
        lilv_node_free(unit);
    }
    lilv_node_free(symbolKey);
    lilv_node_free(unitKey);
    return symbol;
}

std::string scratchDirectory() {
    static std::atomic<int> counter{0};
    return QDir(QDir::tempPath())
        .filePath(QStringLiteral("corvane-lv2-%1-%2").arg(getpid()).arg(counter.fetch_add(1)))
        .toStdString();
}

// lilv only says that instantiation failed; a library that does not load
// (missing symbol, wrong architecture) explains itself through dlerror().
std::string libraryLoadError(const LilvPlugin* plugin) {
    char* path = lilv_file_uri_parse(lilv_node_as_uri(lilv_plugin_get_library_uri(plugin)), nullptr);
    if (!path)
        return {};
    std::string reason;
    dlerror();
    if (void* lib = dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        dlclose(lib);
    } else if (const char* text = dlerror()) {
        reason = text;
    }
    lilv_free(path);
    return reason;
}

} // namespace

std::unique_ptr<Lv2Effect> Lv2Effect::instantiate(const std::string& uri, double sampleRate,
                                                  std::uint32_t maxBlockFrames, std::uint32_t nominalBlockFrames,
                                                  std::string& error) {
    if (sampleRate <= 0.0 || maxBlockFrames == 0) {
        error = "Cannot load a plug-in without a sample rate and a block size.";
        return nullptr;
    }
    World::Lock lock = World::lock();
    std::shared_ptr<World> world = World::current(lock);
    const LilvPlugin* plugin = world->plugin(uri);
    if (!plugin) {
        // Installed since the world was read? Look once more before giving up.
        world = World::reload(lock);
        plugin = world->plugin(uri);
    }
    if (!plugin) {
        error = "The plug-in " + uri + " is not installed.";
        return nullptr;
    }
    std::unique_ptr<Lv2Effect> effect(new Lv2Effect);
    effect->world_ = world;
    if (!effect->load(plugin, sampleRate, maxBlockFrames, std::clamp<std::uint32_t>(nominalBlockFrames, 1, maxBlockFrames),
                      error))
        return nullptr;
    return effect;
}

bool Lv2Effect::load(const LilvPlugin* plugin, double sampleRate, std::uint32_t maxBlockFrames,
                     std::uint32_t nominalBlockFrames, std::string& error) {
    plugin_ = plugin;
    uri_ = nodeString(lilv_plugin_get_uri(plugin));
    if (!lilv_plugin_verify(plugin)) {
        error = "The description of the plug-in " + uri_ + " cannot be read; its bundle may be damaged.";
        return false;
    }
    name_ = takeString(lilv_plugin_get_name(plugin));

    LilvNodes* required = lilv_plugin_get_required_features(plugin);
    std::string missing;
    LILV_FOREACH (nodes, it, required) {
        const char* feature = lilv_node_as_uri(lilv_nodes_get(required, it));
        if (feature && !HostFeatures::supports(feature))
            missing += (missing.empty() ? "" : ", ") + std::string(feature);
    }
    lilv_nodes_free(required);
    if (!missing.empty()) {
        error = "The plug-in " + inQuotes(name_) + " needs a host feature Corvane does not provide: " + missing + ".";
        return false;
    }

    {
        LilvNode* safeRestore = lilv_new_uri(world_->lilv(), LV2_STATE__threadSafeRestore);
        threadSafeRestore_ = lilv_plugin_has_feature(plugin, safeRestore);
        lilv_node_free(safeRestore);
    }
    describePorts(plugin);
    if (audioIn_.empty() || audioOut_.empty()) {
        error = "The plug-in " + inQuotes(name_) + " has no audio " + (audioIn_.empty() ? "input" : "output") +
                " and cannot be used as an effect.";
        return false;
    }

    sampleRate_ = sampleRate;
    maxBlockFrames_ = maxBlockFrames;
    std::uint32_t sequenceBytes = defaultAtomCapacity;
    for (const Port& p : ports_)
        sequenceBytes = std::max(sequenceBytes, p.atomCapacity);
    worker_ = std::make_unique<Worker>();
    largestAtom_ = sequenceBytes;
    atomToUi_ = std::make_unique<std::atomic<bool>[]>(ports_.size());
    features_ = std::make_unique<HostFeatures>(sampleRate, maxBlockFrames, nominalBlockFrames, sequenceBytes, *worker_,
                                               scratchDirectory());
    {
        // The plug-in's own code: what it says before it crashes or hangs
        // goes straight to stderr.
        const StderrCapture::Pause pluginCode;
        instance_ = lilv_plugin_instantiate(plugin, sampleRate, features_->features());
    }
    if (!instance_) {
        const std::string why = libraryLoadError(plugin);
        error = why.empty() ? "The plug-in " + inQuotes(name_) + " refused to start (its instantiation failed)."
                            : "The plug-in " + inQuotes(name_) + " could not be loaded: " + why;
        return false;
    }
    worker_->attach(lilv_instance_get_handle(instance_), static_cast<const LV2_Worker_Interface*>(
                                                             lilv_instance_get_extension_data(instance_, LV2_WORKER__interface)));
    // Every port gets its buffer and the instance is activated at once, so that
    // whatever happens next (a failed start elsewhere, a stop before it ever
    // ran) it is deactivated and freed in the order plug-ins are written for.
    allocatePortBuffers();
    connectPorts();
    activate();
    return true;
}

void Lv2Effect::describePorts(const LilvPlugin* plugin) {
    const World::Uris& u = world_->uris();
    const std::uint32_t count = lilv_plugin_get_num_ports(plugin);
    ports_.assign(count, Port{});
    parameterOfPort_.assign(count, -1);
    values_ = std::make_unique<std::atomic<float>[]>(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const LilvPort* lp = lilv_plugin_get_port_by_index(plugin, i);
        Port& port = ports_[i];
        port.isInput = lilv_port_is_a(plugin, lp, u.inputPort);
        if (lilv_port_is_a(plugin, lp, u.audioPort))
            port.kind = PortKind::Audio;
        else if (lilv_port_is_a(plugin, lp, u.controlPort))
            port.kind = PortKind::Control;
        else if (lilv_port_is_a(plugin, lp, u.cvPort))
            port.kind = PortKind::Cv;
        else if (lilv_port_is_a(plugin, lp, u.atomPort))
            port.kind = PortKind::Atom;
        if (port.kind == PortKind::Atom || port.kind == PortKind::Other) {
            const float wanted = takeFloat(lilv_port_get(plugin, lp, u.minimumSize), 0.0f);
            port.atomCapacity = std::max(defaultAtomCapacity, static_cast<std::uint32_t>(std::max(0.0f, wanted)));
        }
        if (port.kind == PortKind::Audio)
            (port.isInput ? audioIn_ : audioOut_).push_back(i);
        if (port.kind != PortKind::Control) {
            values_[i].store(0.0f);
            continue;
        }

        Parameter p;
        p.portIndex = i;
        p.symbol = nodeString(lilv_port_get_symbol(plugin, lp));
        p.name = takeString(lilv_port_get_name(plugin, lp));
        p.isInput = port.isInput;
        LilvNode* def = nullptr;
        LilvNode* min = nullptr;
        LilvNode* max = nullptr;
        lilv_port_get_range(plugin, lp, &def, &min, &max);
        p.minimum = takeFloat(min, 0.0f);
        p.maximum = takeFloat(max, p.minimum + 1.0f);
        p.defaultValue = takeFloat(def, p.minimum);
        p.toggled = lilv_port_has_property(plugin, lp, u.toggled);
        p.integer = lilv_port_has_property(plugin, lp, u.integer);
        p.enumeration = lilv_port_has_property(plugin, lp, u.enumeration);
        p.logarithmic = lilv_port_has_property(plugin, lp, u.logarithmic);
        p.expert = lilv_port_has_property(plugin, lp, u.notOnGUI) || lilv_port_has_property(plugin, lp, u.expensive);
        LilvNodes* designations = lilv_port_get_value(plugin, lp, u.designation);
        const bool designatedLatency = lilv_nodes_contains(designations, u.latency);
        p.isEnable = port.isInput && lilv_nodes_contains(designations, u.enabled);
        if (port.isInput && lilv_nodes_contains(designations, u.freeWheeling))
            freeWheelPort_ = static_cast<int>(i);
        lilv_nodes_free(designations);
        p.reportsLatency =
            !port.isInput && (designatedLatency || lilv_port_has_property(plugin, lp, u.reportsLatency));
        if (LilvScalePoints* points = lilv_port_get_scale_points(plugin, lp)) {
            LILV_FOREACH (scale_points, it, points) {
                const LilvScalePoint* sp = lilv_scale_points_get(points, it);
                p.scalePoints.push_back(
                    {lilv_node_as_float(lilv_scale_point_get_value(sp)), nodeString(lilv_scale_point_get_label(sp))});
            }
            lilv_scale_points_free(points);
            std::sort(p.scalePoints.begin(), p.scalePoints.end(),
                      [](const ScalePoint& a, const ScalePoint& b) { return a.value < b.value; });
        }
        p.unit = unitSymbol(world_->lilv(), plugin, lp);
        if (p.isEnable && enablePort_ < 0)
            enablePort_ = static_cast<int>(i);
        if (p.reportsLatency && latencyPort_ < 0)
            latencyPort_ = static_cast<int>(i);
        values_[i].store(p.isEnable ? 1.0f : p.defaultValue);
        parameterOfPort_[i] = static_cast<int>(parameters_.size());
        parameters_.push_back(std::move(p));
    }
}

Lv2Effect::~Lv2Effect() {
    deactivate();
    worker_.reset(); // no work() may run once the instance is gone
    if (instance_) {
        World::Lock lock = World::lock();
        const StderrCapture::Pause pluginCode;
        lilv_instance_free(instance_);
    }
    if (features_)
        QDir(QString::fromStdString(features_->scratchDir())).removeRecursively();
}

void Lv2Effect::allocatePortBuffers() {
    const std::size_t count = ports_.size();
    render_.controls.assign(count, 0.0f);
    render_.audio.assign(count, {});
    render_.atoms.assign(count, {});
    UridMap& urids = UridMap::instance();
    render_.sequenceType = urids.map(LV2_ATOM__Sequence);
    render_.chunkType = urids.map(LV2_ATOM__Chunk);
    render_.eventTransferType = urids.map(LV2_ATOM__eventTransfer);
    render_.sentToUi.assign(count, 0.0f);
    render_.uiInterval = static_cast<std::uint32_t>(std::max(1.0, sampleRate_ / kUiUpdatesPerSecond));
    for (std::uint32_t i = 0; i < count; ++i) {
        const Port& port = ports_[i];
        switch (port.kind) {
        case PortKind::Audio:
        case PortKind::Cv:
            // Plug-ins get the full allocated length even for shorter blocks.
            render_.audio[i].assign(maxBlockFrames_, 0.0f);
            break;
        case PortKind::Control:
            (port.isInput ? render_.controlInputs : render_.controlOutputs).push_back(i);
            render_.controls[i] = values_[i].load();
            break;
        case PortKind::Atom:
        case PortKind::Other:
            render_.atoms[i].assign((port.atomCapacity + 7) / 8, 0);
            if (port.kind == PortKind::Atom)
                (port.isInput ? render_.atomInputs : render_.atomOutputs).push_back(i);
            break;
        }
    }
    for (std::uint32_t i : audioIn_)
        render_.pluginIn.push_back(render_.audio[i].data());
    for (std::uint32_t i : audioOut_)
        render_.pluginOut.push_back(render_.audio[i].data());
}

bool Lv2Effect::prepare(double sampleRate, std::uint32_t maxFrames, int inputChannels, int outputChannels,
                        std::string& error) {
    if (inputChannels < 1 || inputChannels > 2 || outputChannels < 1 || outputChannels > 2) {
        error = "An effect takes one or two channels in and out.";
        return false;
    }
    if (sampleRate != sampleRate_) {
        error = "The plug-in " + inQuotes(name_) + " was loaded for " + std::to_string(sampleRate_) +
                " Hz and cannot run at " + std::to_string(sampleRate) + " Hz.";
        return false;
    }
    if (maxFrames == 0 || maxFrames > maxBlockFrames_) {
        error = "The plug-in " + inQuotes(name_) + " was loaded for blocks of at most " +
                std::to_string(maxBlockFrames_) + " frames.";
        return false;
    }
    render_.prepared = false;
    render_.stripIn = inputChannels;
    render_.stripOut = outputChannels;
    render_.dryPath.prepare(sampleRate_, maxBlockFrames_, outputChannels, 0.0);
    render_.prepared = true;
    std::vector<float> silence(maxFrames, 0.0f);
    std::vector<float> sink(maxFrames * 2, 0.0f);
    const float* in[2] = {silence.data(), silence.data()};
    float* out[2] = {sink.data(), sink.data() + maxFrames};
    process(in, out, maxFrames);
    // Now with the latency many plug-ins report only once they have run.
    render_.dryPath.prepare(sampleRate_, maxBlockFrames_, outputChannels, latencySeconds() * sampleRate_);
    reset();
    nonFinitePeriods_.store(0);
    return true;
}

void Lv2Effect::connectPorts() {
    for (std::uint32_t i = 0; i < ports_.size(); ++i) {
        void* buffer = nullptr;
        switch (ports_[i].kind) {
        case PortKind::Audio:
        case PortKind::Cv:
            buffer = render_.audio[i].data();
            break;
        case PortKind::Control:
            buffer = &render_.controls[i];
            break;
        case PortKind::Atom:
        case PortKind::Other:
            buffer = render_.atoms[i].data();
            break;
        }
        lilv_instance_connect_port(instance_, i, buffer);
    }
}

void Lv2Effect::activate() {
    if (!active_ && instance_) {
        const StderrCapture::Pause pluginCode;
        lilv_instance_activate(instance_);
        active_ = true;
    }
}

void Lv2Effect::deactivate() {
    if (active_ && instance_) {
        lilv_instance_deactivate(instance_);
        active_ = false;
    }
}

void Lv2Effect::restart() {
    // activate() is LV2's reset to a fresh audio history. It must not overlap
    // the worker running work() on the same instance.
    auto held = worker_->holdWork();
    deactivate();
    worker_->clear();
    activate();
}

void Lv2Effect::clearBypassPath() {
    render_.dryPath.clear(bypass_.load(std::memory_order_relaxed) && enablePort_ < 0 ? 0.0f : 1.0f);
}

void Lv2Effect::reset() {
    if (!render_.prepared)
        return;
    restart();
    clearBypassPath();
    health_.store(Health::Running, std::memory_order_release);
}

bool Lv2Effect::resetIfFaulted() {
    if (health_.load(std::memory_order_acquire) != Health::Faulted)
        return false;
    // The render thread leaves the instance alone while it is Faulted, so it
    // can be restarted here while the graph runs; the dry path is the render
    // thread's and stays as it is.
    restart();
    health_.store(Health::Running, std::memory_order_release);
    return true;
}

CORVANE_REALTIME
void Lv2Effect::process(const float* const* inputs, float* const* outputs, std::uint32_t frames) noexcept {
    // Whatever the plug-in calls back from here knows a real-time thread waits.
    RealtimeScope realtime;
    Render& r = render_;
    // Announced before health is read: whoever sets Held and then sees this
    // false knows no later period touches the instance.
    inProcess_.store(true, std::memory_order_seq_cst);
    struct Leave {
        std::atomic<bool>& flag;
        ~Leave() { flag.store(false, std::memory_order_seq_cst); }
    } leave{inProcess_};
    const Health health = health_.load(std::memory_order_seq_cst);
    if (r.prepared && frames <= maxBlockFrames_ && health == Health::Held) {
        engine::convertChannels(inputs, r.stripIn, outputs, r.stripOut, frames);
        return;
    }
    if (!r.prepared || frames > maxBlockFrames_ || health != Health::Running) {
        for (int c = 0; c < r.stripOut; ++c)
            std::fill(outputs[c], outputs[c] + std::min(frames, maxBlockFrames_), 0.0f);
        return;
    }
    for (std::uint32_t i : r.controlInputs)
        r.controls[i] = values_[i].load(std::memory_order_relaxed);
    for (std::uint32_t i : r.atomInputs) {
        auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(r.atoms[i].data());
        seq->atom.size = sizeof(LV2_Atom_Sequence_Body);
        seq->atom.type = r.sequenceType;
        seq->body.unit = 0;
        seq->body.pad = 0;
    }
    // The editor's messages in the order it sent them: control values land
    // before the plug-in runs, atoms at the start of its input sequences.
    if (UiLink* link = uiLink_.load(std::memory_order_acquire))
        link->receiveForPlugin([this](std::uint32_t port, std::uint32_t protocol, const void* body, std::uint32_t size) {
            applyUiMessage(port, protocol, body, size);
        });
    const bool bypassed = bypass_.load(std::memory_order_relaxed);
    if (freeWheelPort_ >= 0)
        r.controls[static_cast<std::size_t>(freeWheelPort_)] = 0.0f;
    if (enablePort_ >= 0)
        r.controls[static_cast<std::size_t>(enablePort_)] = bypassed ? 0.0f : 1.0f;

    engine::convertChannels(inputs, r.stripIn, r.pluginIn.data(), static_cast<int>(r.pluginIn.size()), frames);
    for (std::uint32_t i : r.atomOutputs) {
        auto* atom = reinterpret_cast<LV2_Atom*>(r.atoms[i].data());
        atom->size = ports_[i].atomCapacity - static_cast<std::uint32_t>(sizeof(LV2_Atom));
        atom->type = r.chunkType;
    }
    {
        PluginCodeScope pluginCode;
        lilv_instance_run(instance_, frames);
    }
    worker_->deliverResponses();
    engine::convertChannels(r.pluginOut.data(), static_cast<int>(r.pluginOut.size()), outputs, r.stripOut, frames);
    for (std::uint32_t i : r.controlOutputs)
        values_[i].store(r.controls[i], std::memory_order_relaxed);
    if (latencyPort_ >= 0)
        latencyFrames_.store(r.controls[static_cast<std::size_t>(latencyPort_)], std::memory_order_relaxed);
    if (uiAttached_.load(std::memory_order_acquire))
        sendToUi(frames);

    // A plug-in that produces NaN or infinities must not poison the mix, and its
    // state is most likely ruined: it rests until the main thread resets it.
    bool poisoned = false;
    for (int c = 0; c < r.stripOut; ++c)
        poisoned |= engine::vec::scrubNonFinite(outputs[c], frames);
    if (poisoned) {
        nonFinitePeriods_.fetch_add(1, std::memory_order_relaxed);
        health_.store(Health::Faulted, std::memory_order_release);
    }
    if (enablePort_ < 0)
        r.dryPath.mix(inputs, r.stripIn, outputs, r.stripOut, frames, latencySeconds() * sampleRate_, bypassed);
}

CORVANE_REALTIME
void Lv2Effect::applyUiMessage(std::uint32_t port, std::uint32_t protocol, const void* body,
                               std::uint32_t size) noexcept {
    Render& r = render_;
    if (port >= ports_.size() || !ports_[port].isInput)
        return;
    if (protocol == UiLink::floatProtocol && ports_[port].kind == PortKind::Control && size == sizeof(float)) {
        float v = 0.0f;
        std::memcpy(&v, body, sizeof v);
        values_[port].store(v, std::memory_order_relaxed);
        r.controls[port] = v;
        r.sentToUi[port] = v; // the editor knows it already: no echo
        return;
    }
    if (protocol != r.eventTransferType || ports_[port].kind != PortKind::Atom || size < sizeof(LV2_Atom))
        return;
    LV2_Atom atom;
    std::memcpy(&atom, body, sizeof atom);
    if (std::uint64_t{atom.size} + sizeof(LV2_Atom) != size)
        return; // not one whole atom
    auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(r.atoms[port].data());
    const std::uint32_t used = sizeof(LV2_Atom) + seq->atom.size;
    const std::uint32_t needed = static_cast<std::uint32_t>(sizeof(LV2_Atom_Event)) + lv2_atom_pad_size(atom.size);
    if (std::uint64_t{used} + needed > ports_[port].atomCapacity)
        return; // the sequence is full this period
    auto* event = reinterpret_cast<LV2_Atom_Event*>(reinterpret_cast<unsigned char*>(seq) + used);
    event->time.frames = 0;
    std::memcpy(&event->body, body, size);
    seq->atom.size += needed;
}

CORVANE_REALTIME
void Lv2Effect::sendToUi(std::uint32_t frames) noexcept {
    Render& r = render_;
    UiLink* link = uiLink_.load(std::memory_order_acquire); // made before the editor was attached
    for (std::uint32_t i : r.atomOutputs) {
        if (!atomToUi_[i].load(std::memory_order_relaxed))
            continue;
        const auto* seq = reinterpret_cast<const LV2_Atom_Sequence*>(r.atoms[i].data());
        // A plug-in that wrote nothing leaves the chunk we put there; one that
        // wrote garbage gets nothing forwarded.
        if (seq->atom.type != r.sequenceType || seq->atom.size + sizeof(LV2_Atom) > ports_[i].atomCapacity)
            continue;
        LV2_ATOM_SEQUENCE_FOREACH (seq, event) {
            const std::uint32_t size = static_cast<std::uint32_t>(sizeof(LV2_Atom)) + event->body.size;
            if (reinterpret_cast<const unsigned char*>(&event->body) + size >
                reinterpret_cast<const unsigned char*>(seq) + sizeof(LV2_Atom) + seq->atom.size)
                break;
            link->toUi(i, r.eventTransferType, &event->body, size);
        }
    }
    if (uiResend_.exchange(false, std::memory_order_acq_rel)) {
        std::fill(r.sentToUi.begin(), r.sentToUi.end(), std::numeric_limits<float>::quiet_NaN());
        r.uiCountdown = 0;
    }
    if (r.uiCountdown > frames) {
        r.uiCountdown -= frames;
        return;
    }
    r.uiCountdown = r.uiInterval;
    auto send = [&](std::uint32_t i) {
        const float v = r.controls[i];
        if (std::memcmp(&v, &r.sentToUi[i], sizeof v) != 0 && link->toUi(i, UiLink::floatProtocol, &v, sizeof v))
            r.sentToUi[i] = v;
    };
    for (std::uint32_t i : r.controlInputs)
        send(i);
    for (std::uint32_t i : r.controlOutputs)
        send(i);
}

bool Lv2Effect::writeFromUi(std::uint32_t portIndex, std::uint32_t protocol, const void* body, std::uint32_t size) {
    if (portIndex >= ports_.size() || !ports_[portIndex].isInput || (size > 0 && !body))
        return false;
    const Port& port = ports_[portIndex];
    if (protocol == UiLink::floatProtocol) {
        if (port.kind != PortKind::Control || size != sizeof(float))
            return false;
        float v = 0.0f;
        std::memcpy(&v, body, sizeof v);
        if (!std::isfinite(v))
            return false;
        return uiLink().toPlugin(portIndex, protocol, &v, sizeof v) || setParameter(portIndex, v);
    }
    if (protocol != render_.eventTransferType || port.kind != PortKind::Atom || size < sizeof(LV2_Atom))
        return false;
    return uiLink().toPlugin(portIndex, protocol, body, size);
}

void Lv2Effect::attachUi(const std::vector<std::uint32_t>& atomPortsToUi) {
    for (std::uint32_t i = 0; i < ports_.size(); ++i)
        atomToUi_[i].store(false, std::memory_order_relaxed);
    for (std::uint32_t i : atomPortsToUi)
        if (isAtomPort(i, false))
            atomToUi_[i].store(true, std::memory_order_relaxed);
    // What an earlier editor was sent and never read is not this one's.
    uiLink().receiveForUi([](std::uint32_t, std::uint32_t, const void*, std::uint32_t) {});
    uiResend_.store(true, std::memory_order_release);
    uiAttached_.store(true, std::memory_order_release);
}

UiLink& Lv2Effect::uiLink() {
    if (!uiLinkOwner_) {
        uiLinkOwner_ = std::make_unique<UiLink>(std::max<std::size_t>(kUiLinkBytes, 4 * std::size_t{largestAtom_}),
                                                largestAtom_);
        uiLink_.store(uiLinkOwner_.get(), std::memory_order_release);
    }
    return *uiLinkOwner_;
}

std::vector<std::string> Lv2Effect::takeLoggedProblems() {
    return features_ ? features_->log().takeProblems() : std::vector<std::string>{};
}

void Lv2Effect::detachUi() { uiAttached_.store(false, std::memory_order_release); }

CORVANE_REALTIME
double Lv2Effect::latencySeconds() const {
    const double frames = latencyFrames_.load(std::memory_order_relaxed);
    if (!(sampleRate_ > 0.0) || !std::isfinite(frames) || frames <= 0.0 || frames > kMaxLatencySeconds * sampleRate_)
        return 0.0;
    return frames / sampleRate_;
}

bool Lv2Effect::setParameter(std::uint32_t portIndex, float value) {
    if (portIndex >= ports_.size() || parameterOfPort_[portIndex] < 0)
        return false;
    const Parameter& p = parameters_[static_cast<std::size_t>(parameterOfPort_[portIndex])];
    if (!p.isInput || !std::isfinite(value))
        return false;
    if (p.minimum < p.maximum)
        value = std::clamp(value, p.minimum, p.maximum);
    values_[portIndex].store(value, std::memory_order_relaxed);
    return true;
}

float Lv2Effect::parameter(std::uint32_t portIndex) const {
    if (portIndex >= ports_.size() || parameterOfPort_[portIndex] < 0)
        return std::numeric_limits<float>::quiet_NaN();
    return values_[portIndex].load(std::memory_order_relaxed);
}

int Lv2Effect::findPort(const char* symbol) const {
    for (const Parameter& p : parameters_)
        if (p.symbol == symbol)
            return static_cast<int>(p.portIndex);
    return -1;
}

} // namespace corvane::lv2
