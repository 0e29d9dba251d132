#pragma once
// Checks saved effect state before lilv reads it: lilv 0.24 crashes on Turtle
// that parses but holds no preset, so only text that describes a state of the
// expected plug-in is handed on.

#include <string>

namespace corvane::lv2 {

// True when `text` is Turtle (in lilv's serialised-state form, prefixes
// implied) with a preset that applies to `pluginUri`. Otherwise false, with
// `why` saying what is wrong. Any thread; touches no lilv world.
bool isStateOf(const std::string& text, const std::string& pluginUri, std::string& why);

} // namespace corvane::lv2
