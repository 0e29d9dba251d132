#include "platform/lv2/PluginUi.h"

#include "platform/lv2/Lv2Effect.h"
#include "platform/lv2/UridMap.h"
#include "platform/lv2/World.h"
#include "platform/system/StderrCapture.h"

#include <lv2/atom/atom.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/urid/urid.h>

#include <dlfcn.h>

#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <utility>

namespace corvane::lv2 {

namespace {

// What a UI may require of us and get.
const std::set<std::string> providedFeatures = {
    LV2_URID__map, LV2_URID__unmap, LV2_UI__parent, LV2_UI__resize, LV2_UI__idleInterface, LV2_UI__portMap,
    LV2_OPTIONS__options, "http://lv2plug.in/ns/lv2core#isLive"};

std::string filePath(const LilvNode* uri) {
    std::string path;
    if (char* p = uri ? lilv_file_uri_parse(lilv_node_as_uri(uri), nullptr) : nullptr) {
        path = p;
        lilv_free(p);
    }
    return path;
}

struct Node {
    Node(LilvWorld* w, const char* uri) : node(lilv_new_uri(w, uri)) {}
    ~Node() { lilv_node_free(node); }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    LilvNode* node;
};

// UI libraries stay loaded for the life of the process: GL and toolkit code
// in them leaves thread-local destructors and exit handlers behind, which
// crash once the library is unmapped. Loading the same one again is free.
void* openLibrary(const std::string& path, std::string& error) {
    static std::mutex mutex;
    static std::map<std::string, void*> loaded;
    std::lock_guard lock(mutex);
    if (auto it = loaded.find(path); it != loaded.end())
        return it->second;
    dlerror();
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        const char* why = dlerror();
        error = why ? why : "the library could not be opened";
        return nullptr;
    }
    loaded.emplace(path, lib);
    return lib;
}

} // namespace

const char* PluginUi::knownCrashWithEditor(const std::string& pluginUri) {
    // LSP 1.2.5 (Debian 12): the oscilloscopes' own run() crashes as soon as
    // their editor introduces itself (fixed in later LSP releases). The
    // parameters stay editable in the generic editor.
    if (pluginUri.rfind("http://lsp-plug.in/plugins/lv2/oscilloscope_", 0) == 0)
        return "its own editor makes this plug-in crash (LSP oscilloscopes up to 1.2.5)";
    return nullptr;
}

std::optional<PluginUi::Choice> PluginUi::choose(const Lv2Effect& effect, bool x11) {
    World::Lock lock = World::lock();
    LilvWorld* world = effect.world()->lilv();
    const LilvPlugin* plugin = effect.lilvPlugin();
    Node x11Class(world, LV2_UI__X11UI);
    Node showInterface(world, LV2_UI__showInterface);
    Node extensionData(world, LV2_CORE__extensionData);
    Node requiredFeature(world, LV2_CORE__requiredFeature);
    Node portNotification(world, LV2_UI__portNotification);
    Node portIndex(world, LV2_UI__portIndex);
    Node portSymbol(world, LV2_CORE__symbol); // a notification may name its port by symbol
    Node protocol(world, LV2_UI__protocol);
    Node eventTransfer(world, LV2_ATOM__eventTransfer);

    std::optional<Choice> found;
    LilvUIs* uis = lilv_plugin_get_uis(plugin);
    LILV_FOREACH (uis, it, uis) {
        const LilvUI* ui = lilv_uis_get(uis, it);
        const LilvNode* uri = lilv_ui_get_uri(ui);
        lilv_world_load_resource(world, uri);
        Kind kind;
        if (x11 && lilv_ui_is_a(ui, x11Class.node))
            kind = Kind::X11;
        else if (lilv_world_ask(world, uri, extensionData.node, showInterface.node))
            kind = Kind::Show;
        else
            continue;
        if (found && (found->kind == Kind::X11 || kind == Kind::Show))
            continue; // an X11 UI embeds in our window: it wins over a window of its own
        bool usable = true;
        LilvNodes* required = lilv_world_find_nodes(world, uri, requiredFeature.node, nullptr);
        LILV_FOREACH (nodes, r, required)
            usable &= providedFeatures.count(lilv_node_as_string(lilv_nodes_get(required, r))) > 0;
        lilv_nodes_free(required);
        if (!usable)
            continue;
        Choice choice;
        choice.kind = kind;
        choice.uri = lilv_node_as_uri(uri);
        choice.binaryPath = filePath(lilv_ui_get_binary_uri(ui));
        choice.bundlePath = filePath(lilv_ui_get_bundle_uri(ui));
        if (!choice.bundlePath.empty() && choice.bundlePath.back() != '/')
            choice.bundlePath += '/';
        LilvNodes* notes = lilv_world_find_nodes(world, uri, portNotification.node, nullptr);
        bool declaresAny = false;
        LILV_FOREACH (nodes, n, notes) {
            const LilvNode* note = lilv_nodes_get(notes, n);
            declaresAny = true;
            LilvNode* index = lilv_world_get(world, note, portIndex.node, nullptr);
            LilvNode* symbol = lilv_world_get(world, note, portSymbol.node, nullptr);
            LilvNode* proto = lilv_world_get(world, note, protocol.node, nullptr);
            int port = -1;
            if (index && lilv_node_is_int(index))
                port = lilv_node_as_int(index);
            else if (const LilvPort* p = symbol ? lilv_plugin_get_port_by_symbol(plugin, symbol) : nullptr)
                port = static_cast<int>(lilv_port_get_index(plugin, p));
            if (port >= 0 && proto && lilv_node_equals(proto, eventTransfer.node) &&
                effect.isAtomPort(static_cast<std::uint32_t>(port), false))
                choice.atomPortsToUi.push_back(static_cast<std::uint32_t>(port));
            lilv_node_free(index);
            lilv_node_free(symbol);
            lilv_node_free(proto);
        }
        lilv_nodes_free(notes);
        if (!declaresAny)
            for (std::uint32_t i = 0; i < effect.portCount(); ++i)
                if (effect.isAtomPort(i, false))
                    choice.atomPortsToUi.push_back(i);
        found = std::move(choice);
    }
    lilv_uis_free(uis);
    return found;
}

std::unique_ptr<PluginUi> PluginUi::create(Lv2Effect& effect, const Choice& choice, std::uintptr_t parent,
                                           std::function<void(int, int)> requestResize, std::string& error) {
    void* lib = openLibrary(choice.binaryPath, error);
    if (!lib)
        return nullptr;
    using DescriptorFunction = const LV2UI_Descriptor* (*)(std::uint32_t);
    auto entry = reinterpret_cast<DescriptorFunction>(dlsym(lib, "lv2ui_descriptor"));
    if (!entry) {
        error = "the library has no lv2ui_descriptor";
        return nullptr;
    }
    const LV2UI_Descriptor* descriptor = nullptr;
    for (std::uint32_t i = 0; const LV2UI_Descriptor* d = entry(i); ++i)
        if (d->URI && choice.uri == d->URI) {
            descriptor = d;
            break;
        }
    if (!descriptor || !descriptor->instantiate) {
        error = "the library does not describe the UI " + choice.uri;
        return nullptr;
    }

    std::unique_ptr<PluginUi> ui(new PluginUi);
    ui->kind_ = choice.kind;
    ui->effect_ = &effect;
    ui->descriptor_ = descriptor;
    ui->requestResize_ = std::move(requestResize);
    ui->sampleRate_ = static_cast<float>(effect.sampleRate());
    UridMap& urids = UridMap::instance();
    ui->hostResizeFeature_ = {ui.get(), &PluginUi::hostResize};
    ui->portMapFeature_ = {ui.get(), &PluginUi::portIndex};
    const LV2_URID floatType = urids.map(LV2_ATOM__Float);
    ui->options_ = {
        {LV2_OPTIONS_INSTANCE, 0, urids.map(LV2_PARAMETERS__sampleRate), sizeof(float), floatType, &ui->sampleRate_},
        {LV2_OPTIONS_INSTANCE, 0, urids.map(LV2_UI__updateRate), sizeof(float), floatType, &ui->updateRate_},
        {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
    ui->features_ = {{LV2_URID__map, urids.mapFeature()},
                     {LV2_URID__unmap, urids.unmapFeature()},
                     {LV2_UI__resize, &ui->hostResizeFeature_},
                     {LV2_UI__portMap, &ui->portMapFeature_},
                     {LV2_UI__idleInterface, nullptr},
                     {LV2_OPTIONS__options, ui->options_.data()}};
    if (choice.kind == Kind::X11)
        ui->features_.push_back({LV2_UI__parent, reinterpret_cast<void*>(parent)});
    for (const LV2_Feature& f : ui->features_)
        ui->featurePointers_.push_back(&f);
    ui->featurePointers_.push_back(nullptr);

    ui->building_ = true;
    {
        const StderrCapture::Pause pluginCode;
        ui->handle_ = descriptor->instantiate(descriptor, effect.uri().c_str(), choice.bundlePath.c_str(),
                                              &PluginUi::write, ui.get(), &ui->widget_, ui->featurePointers_.data());
    }
    ui->building_ = false;
    if (!ui->handle_) {
        error = "the UI refused to start";
        return nullptr;
    }
    if (choice.kind == Kind::X11 && !ui->widget_) {
        descriptor->cleanup(std::exchange(ui->handle_, nullptr));
        error = "the UI made no window";
        return nullptr;
    }
    if (descriptor->extension_data) {
        ui->idle_ = static_cast<const LV2UI_Idle_Interface*>(descriptor->extension_data(LV2_UI__idleInterface));
        ui->show_ = static_cast<const LV2UI_Show_Interface*>(descriptor->extension_data(LV2_UI__showInterface));
        ui->resize_ = static_cast<const LV2UI_Resize*>(descriptor->extension_data(LV2_UI__resize));
    }
    if (choice.kind == Kind::Show && !ui->show_) {
        descriptor->cleanup(std::exchange(ui->handle_, nullptr));
        error = "the UI has no show interface";
        return nullptr;
    }
    // Every control value once, so the UI starts from what the plug-in runs
    // with; then the render thread keeps it current.
    for (const Parameter& p : effect.parameters()) {
        const float v = effect.parameter(p.portIndex);
        ui->portEvent(p.portIndex, UiLink::floatProtocol, &v, sizeof v);
    }
    effect.attachUi(choice.atomPortsToUi);
    return ui;
}

PluginUi::~PluginUi() {
    if (!handle_)
        return; // it never started: nothing to clean up, nothing attached
    effect_->detachUi();
    const StderrCapture::Pause pluginCode;
    if (show_)
        show_->hide(handle_);
    descriptor_->cleanup(handle_);
}

void PluginUi::write(LV2UI_Controller controller, std::uint32_t port, std::uint32_t size, std::uint32_t protocol,
                     const void* buffer) {
    auto* self = static_cast<PluginUi*>(controller);
    const bool taken = self->effect_->writeFromUi(port, protocol, buffer, size);
    if (taken && protocol == UiLink::floatProtocol && self->controlWritten_)
        self->controlWritten_(port);
}

int PluginUi::hostResize(LV2UI_Feature_Handle handle, int width, int height) {
    auto* self = static_cast<PluginUi*>(handle);
    if (width <= 0 || height <= 0)
        return 1; // a window with no area is no size to take
    if (self->building_) {
        self->preferredWidth_ = width;
        self->preferredHeight_ = height;
    }
    if (self->requestResize_)
        self->requestResize_(width, height);
    return 0;
}

std::uint32_t PluginUi::portIndex(LV2UI_Feature_Handle handle, const char* symbol) {
    auto* self = static_cast<PluginUi*>(handle);
    for (const Parameter& p : self->effect_->parameters())
        if (symbol && p.symbol == symbol)
            return p.portIndex;
    return LV2UI_INVALID_PORT_INDEX;
}

void PluginUi::portEvent(std::uint32_t port, std::uint32_t protocol, const void* body, std::uint32_t size) {
    if (descriptor_->port_event)
        descriptor_->port_event(handle_, port, size, protocol, body);
}

void PluginUi::deliverPluginEvents() {
    effect_->uiLink().receiveForUi([this](std::uint32_t port, std::uint32_t protocol, const void* body,
                                          std::uint32_t size) { portEvent(port, protocol, body, size); });
}

bool PluginUi::idle() {
    deliverPluginEvents();
    return !idle_ || idle_->idle(handle_) == 0;
}

void PluginUi::resize(int width, int height) {
    if (resize_ && resize_->ui_resize && width > 0 && height > 0)
        resize_->ui_resize(handle_, width, height); // the UI's own handle, as the extension says
}

bool PluginUi::show() { return show_ && show_->show(handle_) == 0; }

void PluginUi::hide() {
    if (show_)
        show_->hide(handle_);
}

} // namespace corvane::lv2
