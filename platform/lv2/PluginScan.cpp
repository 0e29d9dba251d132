#include "platform/lv2/PluginScan.h"

#include "platform/lv2/SearchPath.h"
#include "platform/lv2/TurtleFile.h"
#include "platform/lv2/World.h"
#include "platform/system/Logging.h"
#include "platform/system/SharedLibraryFile.h"

#include <QDir>
#include <QFileInfo>

#include <optional>
#include <set>

namespace corvane::lv2 {

namespace {

// True when `classUri` is `target` or one of its subclasses, following
// rdfs:subClassOf through whatever the loaded bundles declare.
bool isKindOf(const World& world, const LilvNode* classUri, const LilvNode* target, std::set<std::string>& seen) {
    if (lilv_node_equals(classUri, target))
        return true;
    if (!seen.insert(lilv_node_as_string(classUri)).second)
        return false;
    LilvNodes* parents = lilv_world_find_nodes(world.lilv(), classUri, world.uris().rdfsSubClassOf, nullptr);
    bool found = false;
    LILV_FOREACH (nodes, it, parents) {
        if (isKindOf(world, lilv_nodes_get(parents, it), target, seen)) {
            found = true;
            break;
        }
    }
    lilv_nodes_free(parents);
    return found;
}

bool isExcludedClass(const World& world, const LilvPlugin* plugin) {
    const World::Uris& u = world.uris();
    LilvNodes* types = lilv_world_find_nodes(world.lilv(), lilv_plugin_get_uri(plugin), u.rdfType, nullptr);
    bool excluded = false;
    LILV_FOREACH (nodes, it, types) {
        const LilvNode* type = lilv_nodes_get(types, it);
        for (const LilvNode* banned : {u.instrumentClass, u.generatorClass, u.mixerClass, u.converterClass}) {
            std::set<std::string> seen;
            if (isKindOf(world, type, banned, seen)) {
                excluded = true;
                break;
            }
        }
        if (excluded)
            break;
    }
    lilv_nodes_free(types);
    return excluded;
}

bool takesMidi(const World& world, const LilvPlugin* plugin) {
    const World::Uris& u = world.uris();
    const std::uint32_t count = lilv_plugin_get_num_ports(plugin);
    for (std::uint32_t i = 0; i < count; ++i) {
        const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
        if (lilv_port_is_a(plugin, port, u.inputPort) &&
            (lilv_port_is_a(plugin, port, u.atomPort) || lilv_port_is_a(plugin, port, u.eventPort)) &&
            lilv_port_supports_event(plugin, port, u.midiEvent))
            return true;
    }
    return false;
}

// Empty when the plug-in's library is a shared library this process could
// load; otherwise the rest of a sentence that begins with the plug-in's URI.
// Listing a plug-in whose library is missing or is not one would only make it
// fail when chosen.
std::string libraryProblem(const LilvPlugin* plugin) {
    const LilvNode* uri = lilv_plugin_get_library_uri(plugin);
    if (!uri)
        return "it names no library";
    char* path = lilv_file_uri_parse(lilv_node_as_uri(uri), nullptr);
    if (!path)
        return std::string("its library ") + lilv_node_as_uri(uri) + " is not a local file";
    const std::string local = path;
    lilv_free(path);
    const std::string problem = sharedLibraryProblem(local);
    return problem.empty() ? problem : "its library " + local + " " + problem;
}

// lilv drops a bundle whose manifest does not parse and says so only on
// stderr; name it in our log so a user can find the damaged bundle.
void reportUnreadableManifest(const QString& bundle) {
    const QString manifest = bundle + QStringLiteral("/manifest.ttl");
    std::string why;
    if (QFileInfo::exists(manifest) && !turtleFileParses(manifest.toStdString(), why))
        qCWarning(lcEngine, "Skipping LV2 bundle %s: its manifest cannot be read (%s)", qUtf8Printable(bundle),
                  why.c_str());
}

void reportUnreadableManifests() {
    for (const QString& dir : searchDirectories()) {
        const QDir lv2Dir(dir);
        for (const QString& bundle : lv2Dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            reportUnreadableManifest(lv2Dir.filePath(bundle));
    }
}

// What a plug-in is, or nothing (with the log line saying why) when it
// cannot be listed.
std::optional<PluginDescription> describe(const World& world, const LilvPlugin* plugin) {
    const World::Uris& u = world.uris();
    const char* uri = lilv_node_as_uri(lilv_plugin_get_uri(plugin));
    if (!lilv_plugin_verify(plugin)) {
        const char* bundle = lilv_node_as_uri(lilv_plugin_get_bundle_uri(plugin));
        qCWarning(lcEngine, "Skipping plug-in %s: the description in %s cannot be read", uri,
                  bundle ? bundle : "its bundle");
        return std::nullopt;
    }
    if (const std::string problem = libraryProblem(plugin); !problem.empty()) {
        qCWarning(lcEngine, "Skipping plug-in %s: %s", uri, problem.c_str());
        return std::nullopt;
    }
    PluginDescription d;
    d.uri = uri;
    LilvNode* name = lilv_plugin_get_name(plugin);
    d.name = name ? lilv_node_as_string(name) : uri;
    lilv_node_free(name);
    LilvNode* author = lilv_plugin_get_author_name(plugin);
    if (author)
        d.author = lilv_node_as_string(author);
    lilv_node_free(author);
    d.audioInputs = lilv_plugin_get_num_ports_of_class(plugin, u.audioPort, u.inputPort, nullptr);
    d.audioOutputs = lilv_plugin_get_num_ports_of_class(plugin, u.audioPort, u.outputPort, nullptr);
    d.takesMidi = takesMidi(world, plugin);
    d.isEffect = d.audioInputs > 0 && d.audioOutputs > 0 && !isExcludedClass(world, plugin);
    return d;
}

// The bundle directory of a plug-in, spelt as the bundle list spells it (no
// trailing slash).
std::string bundleDirectory(const LilvPlugin* plugin) {
    const LilvNode* uri = lilv_plugin_get_bundle_uri(plugin);
    char* path = uri ? lilv_file_uri_parse(lilv_node_as_uri(uri), nullptr) : nullptr;
    if (!path)
        return {};
    std::string dir = path;
    lilv_free(path);
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

// lilv names bundles by URI with a trailing slash.
LilvNode* bundleUri(LilvWorld* world, const std::string& dir) {
    return lilv_new_file_uri(world, nullptr, (dir + '/').c_str());
}

} // namespace

std::vector<PluginDescription> scanInstalledPlugins() {
    reportUnreadableManifests();
    World::Lock lock = World::lock();
    std::shared_ptr<World> world = World::reload(lock);
    std::vector<PluginDescription> found;
    const LilvPlugins* plugins = lilv_world_get_all_plugins(world->lilv());
    LILV_FOREACH (plugins, it, plugins) {
        if (auto d = describe(*world, lilv_plugins_get(plugins, it)))
            found.push_back(std::move(*d));
    }
    return found;
}

std::map<std::string, std::vector<PluginDescription>> scanBundles(const std::vector<std::string>& changed,
                                                                  const std::vector<std::string>& gone,
                                                                  bool freshWorld) {
    std::map<std::string, std::vector<PluginDescription>> found;
    for (const std::string& bundle : changed) {
        reportUnreadableManifest(QString::fromStdString(bundle));
        found[bundle];
    }
    if (changed.empty() && gone.empty())
        return found;
    World::Lock lock = World::lock();
    std::shared_ptr<World> world = freshWorld ? World::reload(lock) : World::current(lock);
    LilvWorld* lilv = world->lilv();
    if (!freshWorld) {
        // As a preset's save does: what the world held of a bundle goes (its
        // plug-ins stay valid for instances that use them), then it is read again.
        for (const auto* list : {&gone, &changed})
            for (const std::string& bundle : *list) {
                LilvNode* uri = bundleUri(lilv, bundle);
                lilv_world_unload_bundle(lilv, uri);
                lilv_node_free(uri);
            }
        for (const std::string& bundle : changed) {
            if (!QFileInfo::exists(QString::fromStdString(bundle + "/manifest.ttl")))
                continue;
            LilvNode* uri = bundleUri(lilv, bundle);
            lilv_world_load_bundle(lilv, uri);
            lilv_node_free(uri);
        }
    }
    const LilvPlugins* plugins = lilv_world_get_all_plugins(lilv);
    LILV_FOREACH (plugins, it, plugins) {
        const LilvPlugin* plugin = lilv_plugins_get(plugins, it);
        const auto entry = found.find(bundleDirectory(plugin));
        if (entry == found.end())
            continue;
        if (auto d = describe(*world, plugin))
            entry->second.push_back(std::move(*d));
    }
    return found;
}

} // namespace corvane::lv2
