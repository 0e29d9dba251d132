#pragma once
// Checks saved effect state before lilv reads it: lilv 0.24 crashes on Turtle
// that parses but holds no preset, so only text that describes a state of the
// expected plug-in is handed on. serd reads nested blank nodes and lists by
// recursion, one level per bracket, so a text nested a few thousand levels
// deep overflows the stack: its depth and size are bounded before any parser
// sees it, and the shape of what it holds before lilv reads that.

#include <cstddef>
#include <string>

namespace corvane::lv2 {

// Real states nest two or three levels (a port's value inside its port).
inline constexpr int kMaxStateDepth = 64;
// lilv goes through a list one call deeper for each item: no more than this
// many parts in a row (a list's items, nested parts) take some 1.5 MB of a
// thread's 8 MB stack.
inline constexpr std::size_t kMaxStateLinks = 4096;
// Most real states are a few kilobytes; the largest of Debian's plug-ins
// (LSP's 48-channel multisampler, a value for each of its ports) is 1 MB.
inline constexpr std::size_t kMaxStateBytes = 4 * 1024 * 1024;

// True when `text` is Turtle (in lilv's serialised-state form, prefixes
// implied) with a preset that applies to `pluginUri`. Otherwise false, with
// `why` saying what is wrong. Any thread; touches no lilv world. The only way
// state text may reach serd or lilv.
bool isStateOf(const std::string& text, const std::string& pluginUri, std::string& why);

} // namespace corvane::lv2
