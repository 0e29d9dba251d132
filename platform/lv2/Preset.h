#pragma once
// One preset of a plug-in as lilv knows it: the plug-in's own (shipped in its
// bundle) or the user's (saved under ~/.lv2).

#include <string>

namespace corvane::lv2 {

struct Preset {
    std::string uri;
    std::string label;
    bool user = false;
};

} // namespace corvane::lv2
