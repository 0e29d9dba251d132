#include "platform/lv2/StateText.h"

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/presets/presets.h>
#include <lv2/state/state.h>
#include <serd/serd.h>
#include <sord/sord.h>

namespace corvane::lv2 {

namespace {

const std::uint8_t* bytes(const char* s) { return reinterpret_cast<const std::uint8_t*>(s); }

// Serd reports syntax errors here instead of on stderr.
SerdStatus quietError(void*, const SerdError*) { return SERD_SUCCESS; }

} // namespace

bool isStateOf(const std::string& text, const std::string& pluginUri, std::string& why) {
    SordWorld* world = sord_world_new();
    sord_world_set_error_sink(world, &quietError, nullptr);
    SordModel* model = sord_new(world, SORD_SPO | SORD_OPS, false);
    SerdEnv* env = serd_env_new(nullptr);
    // The prefixes lilv leaves out when it writes state as a string.
    const char* prefixes[][2] = {{"atom", LV2_ATOM_PREFIX},
                                 {"lv2", LV2_CORE_PREFIX},
                                 {"pset", LV2_PRESETS_PREFIX},
                                 {"rdf", "http://www.w3.org/1999/02/22-rdf-syntax-ns#"},
                                 {"rdfs", "http://www.w3.org/2000/01/rdf-schema#"},
                                 {"state", LV2_STATE_PREFIX},
                                 {"xsd", "http://www.w3.org/2001/XMLSchema#"}};
    for (const auto& p : prefixes)
        serd_env_set_prefix_from_strings(env, bytes(p[0]), bytes(p[1]));
    SerdReader* reader = sord_new_reader(model, env, SERD_TURTLE, nullptr);
    serd_reader_set_error_sink(reader, &quietError, nullptr);
    const SerdStatus status = serd_reader_read_string(reader, bytes(text.c_str()));

    bool ok = false;
    if (status != SERD_SUCCESS) {
        why = "the text is not valid Turtle";
    } else {
        SordNode* type = sord_new_uri(world, bytes("http://www.w3.org/1999/02/22-rdf-syntax-ns#type"));
        SordNode* preset = sord_new_uri(world, bytes(LV2_PRESETS__Preset));
        SordNode* appliesTo = sord_new_uri(world, bytes(LV2_CORE__appliesTo));
        SordNode* subject = sord_get(model, nullptr, type, preset, nullptr);
        if (!subject) {
            why = "the text holds no plug-in state";
        } else {
            SordNode* owner = sord_get(model, subject, appliesTo, nullptr, nullptr);
            const char* ownerUri = owner ? reinterpret_cast<const char*>(sord_node_get_string(owner)) : nullptr;
            if (ownerUri && pluginUri == ownerUri)
                ok = true;
            else
                why = std::string("the state belongs to ") + (ownerUri ? ownerUri : "no plug-in");
            sord_node_free(world, owner);
            sord_node_free(world, subject);
        }
        sord_node_free(world, appliesTo);
        sord_node_free(world, preset);
        sord_node_free(world, type);
    }
    serd_reader_free(reader);
    serd_env_free(env);
    sord_free(model);
    sord_world_free(world);
    return ok;
}

} // namespace corvane::lv2
