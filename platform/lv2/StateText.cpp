#include "platform/lv2/StateText.h"

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/presets/presets.h>
#include <lv2/state/state.h>
#include <serd/serd.h>
#include <sord/sord.h>

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvane::lv2 {

namespace {

const std::uint8_t* bytes(const char* s) { return reinterpret_cast<const std::uint8_t*>(s); }

// Serd reports syntax errors here instead of on stderr.
SerdStatus quietError(void*, const SerdError*) { return SERD_SUCCESS; }

// One past the string literal whose opening quote `q` is just before `i`,
// ended where serd ends it.
std::size_t afterString(std::string_view text, std::size_t i, char q) {
    const std::size_t n = text.size();
    auto at = [&](std::size_t k) { return k < n ? text[k] : '\0'; };
    if (at(i) != q) { // "..."
        while (i < n) {
            const char c = text[i++];
            if (c == '\\')
                ++i; // an escape: what follows is no quote and no line end
            else if (c == q || c == '\n' || c == '\r')
                return i; // serd gives up on a line end in a short string
        }
        return n;
    }
    if (at(i + 1) != q) // ""
        return i + 1;
    i += 2; // """..."""
    while (i < n) {
        const char c = text[i++];
        if (c == '\\') {
            ++i;
        } else if (c == q) {
            // serd takes the character after a lone quote as it stands, even a
            // backslash, and ends the literal at the first three in a row.
            const char next = at(i++);
            if (next == q && at(i) == q)
                return i + 1;
        }
    }
    return n;
}

// How deep blank nodes [ ] and lists ( ) nest, outside IRIs, string literals
// and comments, with the text read the way serd reads it; stops counting past
// kMaxStateDepth. A reader stricter than lilv's checks the same text next and
// stops at the first mistake, so only the part before one has to be read
// exactly as serd reads it.
int nestingDepth(std::string_view text) {
    const std::size_t n = text.size();
    int depth = 0;
    int deepest = 0;
    std::size_t i = 0;
    while (i < n && deepest <= kMaxStateDepth) {
        const char c = text[i++];
        switch (c) {
        case '[':
        case '(':
            deepest = std::max(deepest, ++depth);
            break;
        case ']':
        case ')':
            depth = std::max(0, depth - 1);
            break;
        case '\\': // \# \' \( and the like inside a prefixed name
            ++i;
            break;
        case '#':
            while (i < n && text[i] != '\n' && text[i] != '\r')
                ++i;
            break;
        case '<':
            while (i < n && text[i++] != '>') {
            }
            break;
        case '"':
        case '\'':
            i = afterString(text, i, c);
            break;
        default:
            break;
        }
    }
    return deepest;
}

// Why `text` is not to be parsed at all; empty when it may be.
std::string boundsProblem(const std::string& text) {
    if (text.size() > kMaxStateBytes)
        return "the settings are larger than " + std::to_string(kMaxStateBytes / (1024 * 1024)) + " MB";
    // serd, like lilv after it, reads up to the first NUL.
    if (nestingDepth(std::string_view(text.c_str())) > kMaxStateDepth)
        return "the settings nest deeper than " + std::to_string(kMaxStateDepth) + " levels";
    return {};
}

std::size_t countMatches(SordModel* model, const SordNode* predicate, const SordNode* object) {
    std::size_t count = 0;
    SordIter* it = sord_search(model, nullptr, predicate, object, nullptr);
    for (; it && !sord_iter_end(it); sord_iter_next(it))
        ++count;
    sord_iter_free(it);
    return count;
}

// lilv reads the blank nodes under a state by recursion as well (sratom),
// one call for each node it goes through, down nested nodes and along lists
// alike, and follows labelled nodes (_:b) wherever they lead: a chain of them,
// or a list, long enough ends like deep brackets, and a loop never ends. The
// states lilv writes are trees of anonymous nodes, each named by one statement.
std::string shapeProblem(SordModel* model) {
    std::unordered_map<const SordNode*, const SordNode*> parentOf; // blank node -> the subject naming it
    bool shared = false;
    SordIter* it = sord_begin(model);
    for (; it && !sord_iter_end(it); sord_iter_next(it)) {
        const SordNode* object = sord_iter_get_node(it, SORD_OBJECT);
        if (sord_node_get_type(object) == SORD_BLANK)
            shared |= !parentOf.emplace(object, sord_iter_get_node(it, SORD_SUBJECT)).second;
    }
    sord_iter_free(it);
    if (shared)
        return "a part of the settings is named in more than one place";
    const std::string tooLong =
        "the settings hold a list or a chain longer than " + std::to_string(kMaxStateLinks) + " items";
    // Each node's distance from the top, worked out once: 0 while its walk is on.
    std::unordered_map<const SordNode*, std::size_t> depthOf;
    std::vector<const SordNode*> walk;
    for (const auto& entry : parentOf) {
        walk.clear();
        std::size_t depth = 0;
        for (auto up = parentOf.find(entry.first); up != parentOf.end(); up = parentOf.find(up->second)) {
            const auto [known, fresh] = depthOf.try_emplace(up->first, 0);
            if (!fresh && known->second == 0)
                return tooLong; // a loop
            if (!fresh) {
                depth = known->second;
                break;
            }
            walk.push_back(up->first);
        }
        for (auto node = walk.rbegin(); node != walk.rend(); ++node)
            depthOf[*node] = ++depth;
        if (depth > kMaxStateLinks)
            return tooLong;
    }
    return {};
}

} // namespace

bool isStateOf(const std::string& text, const std::string& pluginUri, std::string& why) {
    if (why = boundsProblem(text); !why.empty())
        return false;
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
    // A lax reader may skip a broken statement and read on from the next line
    // (serd does when it reads files), which could be inside what the depth
    // count took for a string. A strict one stops at the first mistake, so
    // what it reads was counted right; and lilv's lax reader then only ever
    // sees text the strict one took whole.
    serd_reader_set_strict(reader, true);
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
            if (!ownerUri || pluginUri != ownerUri)
                why = std::string("the state belongs to ") + (ownerUri ? ownerUri : "no plug-in");
            else if (countMatches(model, type, preset) > 1)
                why = "the text holds more than one state"; // lilv might read another one than this
            else
                why = shapeProblem(model);
            ok = why.empty();
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
