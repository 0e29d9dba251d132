#include "platform/lv2/TurtleFile.h"

#include <serd/serd.h>

#include <cstdio>

namespace corvane::lv2 {

namespace {

SerdStatus ignoreStatement(void*, SerdStatementFlags, const SerdNode*, const SerdNode*, const SerdNode*,
                           const SerdNode*, const SerdNode*, const SerdNode*) {
    return SERD_SUCCESS;
}

SerdStatus keepError(void* handle, const SerdError* error) {
    auto* why = static_cast<std::string*>(handle);
    if (why->empty()) {
        char text[512];
        std::vsnprintf(text, sizeof text, error->fmt, *error->args);
        *why = "line " + std::to_string(error->line) + ", column " + std::to_string(error->col) + ": " + text;
        while (!why->empty() && (why->back() == '\n' || why->back() == ' '))
            why->pop_back();
    }
    return SERD_SUCCESS;
}

} // namespace

bool turtleFileParses(const std::string& path, std::string& why) {
    why.clear();
    SerdReader* reader =
        serd_reader_new(SERD_TURTLE, nullptr, nullptr, nullptr, nullptr, &ignoreStatement, nullptr);
    serd_reader_set_error_sink(reader, &keepError, &why);
    const SerdStatus status = serd_reader_read_file(reader, reinterpret_cast<const std::uint8_t*>(path.c_str()));
    serd_reader_free(reader);
    if (status == SERD_SUCCESS)
        return true;
    if (why.empty())
        why = serd_strerror(status) ? reinterpret_cast<const char*>(serd_strerror(status)) : "unreadable";
    return false;
}

} // namespace corvane::lv2
