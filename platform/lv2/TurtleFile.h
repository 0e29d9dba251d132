#pragma once
// A syntax check of a Turtle file, so that a damaged bundle is reported by name
// instead of vanishing with a message only on stderr.

#include <string>

namespace corvane::lv2 {

// True when the file reads as Turtle; otherwise false with serd's complaint
// (line and column) in `why`. Any thread; touches no lilv world.
bool turtleFileParses(const std::string& path, std::string& why);

} // namespace corvane::lv2
