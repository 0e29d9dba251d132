#pragma once
// What the host knows of one control port of a plug-in: enough to build a
// generic editor and to save, restore and automate values.

#include <cstdint>
#include <string>
#include <vector>

namespace corvane::lv2 {

struct ScalePoint {
    float value = 0.0f;
    std::string label;
};

struct Parameter {
    std::uint32_t portIndex = 0;
    std::string symbol;
    std::string name;
    float minimum = 0.0f;
    float maximum = 1.0f;
    float defaultValue = 0.0f;
    bool isInput = true;       // false: the plug-in reports it (a meter, the latency)
    bool toggled = false;
    bool integer = false;
    bool enumeration = false;
    bool logarithmic = false;
    bool expert = false;       // marked not-on-GUI or expensive; still listed
    bool isEnable = false;     // the plug-in's own bypass switch (driven by setBypass)
    bool reportsLatency = false;
    std::string unit;          // the unit's symbol ("dB", "Hz"); empty without one
    std::vector<ScalePoint> scalePoints;
};

} // namespace corvane::lv2
