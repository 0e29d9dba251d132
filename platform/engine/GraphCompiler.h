#pragma once
// Turns the engine's units, connections and taps into a render plan: the
// schedule (a topological order from the device input to the device output)
// and every buffer, sized for `maxFrames` per period. Main thread only; this is
// where all of the render path's memory is allocated.

#include "platform/engine/Connection.h"
#include "platform/engine/DeviceNodes.h"
#include "platform/engine/RenderPlan.h"

#include <memory>
#include <unordered_map>
#include <string>
#include <vector>

namespace corvane::engine {

struct GraphDescription {
    std::shared_ptr<DeviceInputNode> input;
    std::shared_ptr<DeviceOutputNode> output;
    std::vector<std::shared_ptr<Unit>> units; // attached units in attach order, the device nodes included
    std::vector<Connection> connections;
    std::vector<std::shared_ptr<Tap>> taps;
    std::unordered_map<const Unit*, int> timingGroups; // units whose time is counted, by group
};

struct CompileOptions {
    double sampleRate = 0.0;
    std::uint32_t maxFrames = 0;
    // Prepare every scheduled unit (only while stopped: preparing re-allocates
    // what a running unit uses).
    bool prepareUnits = true;
    // Give taps that already have a ring a new one if it does not fit (only
    // while the tap thread is stopped).
    bool replaceRings = true;
};

// Null with a readable reason in `error` when the graph cannot be rendered.
std::unique_ptr<RenderPlan> compileGraph(const GraphDescription& graph, const CompileOptions& options,
                                         std::string& error);

} // namespace corvane::engine
