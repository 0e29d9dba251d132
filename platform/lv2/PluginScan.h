#pragma once
// Reads every installed LV2 plug-in's description: what the catalog lists.

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::lv2 {

struct PluginDescription {
    std::string uri;
    std::string name;
    std::string author;          // empty when the plug-in names none
    std::uint32_t audioInputs = 0;
    std::uint32_t audioOutputs = 0;
    bool takesMidi = false;      // an input port that accepts MIDI events
    bool isEffect = false;       // audio in and out, and not an instrument, generator, mixer or converter
};

// Blocking (reads every bundle); run it on a background thread. Reloads the
// LV2 directories, so later instantiations see the same set. Plug-ins whose
// description cannot be read, or whose library is missing or is not a shared
// library for this machine, are left out with a log line. Scan order is
// lilv's (sorted by URI).
std::vector<PluginDescription> scanInstalledPlugins();

} // namespace corvane::lv2
