#pragma once
// Reads every installed LV2 plug-in's description: what the catalog lists.

#include <cstdint>
#include <map>
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

// The plug-ins of some bundles only, by bundle directory (as LV2_PATH's
// directory plus the bundle's name): what keeps a change to one bundle from
// costing a scan of all. `changed` are read again and described; `gone` are
// forgotten. The world later instances come from follows both, or with
// `freshWorld` is read anew first (cheaper than bundle by bundle when most
// bundles are new). Every changed bundle has an entry, empty when it holds no
// plug-in. Blocking; the same skips and log lines as a full scan.
std::map<std::string, std::vector<PluginDescription>> scanBundles(const std::vector<std::string>& changed,
                                                                  const std::vector<std::string>& gone,
                                                                  bool freshWorld);

} // namespace corvane::lv2
