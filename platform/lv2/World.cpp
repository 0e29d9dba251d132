#include "platform/lv2/World.h"

#include "platform/lv2/LilvMessages.h"
#include "platform/lv2/SearchPath.h"

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/port-props/port-props.h>
#include <lv2/resize-port/resize-port.h>

#define RDF_TYPE "http://www.w3.org/1999/02/22-rdf-syntax-ns#type"
#define RDFS_SUBCLASSOF "http://www.w3.org/2000/01/rdf-schema#subClassOf"

namespace corvane::lv2 {

namespace {

std::recursive_mutex& lilvMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

std::shared_ptr<World>& currentSlot() {
    static std::shared_ptr<World> world; // guarded by lilvMutex()
    return world;
}

} // namespace

World::Lock::Lock(std::recursive_mutex& mutex) : mutex_(mutex), output_(&isLilvMessage, &logLilvMessage) {}

World::Lock World::lock() { return Lock(lilvMutex()); }

std::shared_ptr<World> World::current(const Lock&) {
    auto& slot = currentSlot();
    if (!slot)
        slot = std::shared_ptr<World>(new World);
    return slot;
}

std::shared_ptr<World> World::reload(const Lock&) {
    currentSlot() = std::shared_ptr<World>(new World);
    return currentSlot();
}

World::World() : world_(lilv_world_new()) {
    // Pass the path explicitly so the catalog's watched directories and the
    // loaded ones are the same list, whatever lilv was compiled with.
    const QByteArray path = searchPathString().toLocal8Bit();
    LilvNode* pathNode = lilv_new_string(world_, path.constData());
    lilv_world_set_option(world_, LILV_OPTION_LV2_PATH, pathNode);
    lilv_node_free(pathNode);
    lilv_world_load_all(world_);

    auto uri = [this](const char* u) { return lilv_new_uri(world_, u); };
    uris_.audioPort = uri(LV2_CORE__AudioPort);
    uris_.controlPort = uri(LV2_CORE__ControlPort);
    uris_.cvPort = uri(LV2_CORE__CVPort);
    uris_.atomPort = uri(LV2_ATOM__AtomPort);
    uris_.eventPort = uri("http://lv2plug.in/ns/ext/event#EventPort");
    uris_.inputPort = uri(LV2_CORE__InputPort);
    uris_.outputPort = uri(LV2_CORE__OutputPort);
    uris_.midiEvent = uri(LV2_MIDI__MidiEvent);
    uris_.reportsLatency = uri(LV2_CORE__reportsLatency);
    uris_.latency = uri(LV2_CORE__latency);
    uris_.enabled = uri(LV2_CORE__enabled);
    uris_.freeWheeling = uri(LV2_CORE__freeWheeling);
    uris_.toggled = uri(LV2_CORE__toggled);
    uris_.integer = uri(LV2_CORE__integer);
    uris_.enumeration = uri(LV2_CORE__enumeration);
    uris_.notOnGUI = uri(LV2_PORT_PROPS__notOnGUI);
    uris_.expensive = uri(LV2_PORT_PROPS__expensive);
    uris_.logarithmic = uri(LV2_PORT_PROPS__logarithmic);
    uris_.designation = uri(LV2_CORE__designation);
    uris_.minimumSize = uri(LV2_RESIZE_PORT__minimumSize);
    uris_.rdfType = uri(RDF_TYPE);
    uris_.instrumentClass = uri(LV2_CORE__InstrumentPlugin);
    uris_.generatorClass = uri(LV2_CORE__GeneratorPlugin);
    uris_.mixerClass = uri(LV2_CORE__MixerPlugin);
    uris_.converterClass = uri(LV2_CORE__ConverterPlugin);
    uris_.rdfsSubClassOf = uri(RDFS_SUBCLASSOF);
}

World::~World() {
    Lock held = lock();
    for (LilvNode* node :
         {uris_.audioPort, uris_.controlPort, uris_.cvPort, uris_.atomPort, uris_.eventPort, uris_.inputPort,
          uris_.outputPort, uris_.midiEvent, uris_.reportsLatency, uris_.latency, uris_.enabled,
          uris_.freeWheeling, uris_.toggled, uris_.integer, uris_.enumeration, uris_.notOnGUI, uris_.expensive,
          uris_.logarithmic, uris_.designation, uris_.minimumSize, uris_.rdfType, uris_.instrumentClass,
          uris_.generatorClass, uris_.mixerClass, uris_.converterClass, uris_.rdfsSubClassOf})
        lilv_node_free(node);
    lilv_world_free(world_);
}

const LilvPlugin* World::plugin(const std::string& uri) const {
    LilvNode* node = lilv_new_uri(world_, uri.c_str());
    if (!node)
        return nullptr;
    const LilvPlugin* found = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), node);
    lilv_node_free(node);
    return found;
}

} // namespace corvane::lv2
