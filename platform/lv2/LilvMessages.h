#pragma once
// lilv's and serd's own diagnostics, which they print on stderr: how to tell
// them from other lines there, and where they go instead (corvane.lv2).

#include <string_view>

namespace corvane::lv2 {

// True for a line in the form lilv ("lilv_world_load_file(): error: ...") or
// serd and sord ("error: file:line:column: ...") print.
bool isLilvMessage(std::string_view line);

// Logs such a line to corvane.lv2, as a warning for errors and warnings and as
// information for notes.
void logLilvMessage(std::string_view line);

} // namespace corvane::lv2
