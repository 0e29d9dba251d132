#pragma once
// Render thread (read-only): everything one period of rendering touches, built
// whole on the main thread before it is published and never changed after.
// Every pointer in it points into memory the plan itself keeps alive.

#include "platform/engine/Tap.h"
#include "platform/engine/Unit.h"
#include "platform/hardware/IoCallback.h"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace corvane::engine {

struct RenderPlan {
    // A wider signal mixed into a mono bus before the unit that reads it runs.
    struct Mixdown {
        const float* const* source = nullptr;
        int sourceChannels = 0;
        float* destination = nullptr;
    };
    struct TapFeed {
        Tap* tap = nullptr;
        const float* const* channels = nullptr;
    };
    // One unit, in schedule order.
    struct Step {
        Unit* unit = nullptr;
        std::vector<Mixdown> mixdowns;
        std::vector<InputBus> inputs;
        std::vector<OutputBus> outputs;
        std::vector<TapFeed> taps;
        int timingGroup = -1; // where its time is counted (RenderStats), -1 for nowhere
        // Begun here, finished later (Unit::rendersAhead).
        bool ahead = false;
        // Steps rendering ahead whose outputs this one is the first to read:
        // finished before its mixdowns.
        std::vector<std::size_t> finishFirst;
    };

    std::uint32_t maxFrames = 0;
    double sampleRate = 0.0;

    // The device input node's output buffers: the device's input channels are
    // copied here first, so that every other pointer in the plan stays fixed.
    std::vector<float*> deviceInputs;
    std::vector<Step> steps; // topological order, the device input node first
    // Steps rendering ahead that only the device output reads.
    std::vector<std::size_t> finishAtEnd;
    // What the device output node receives, copied to the device's outputs last.
    std::vector<Mixdown> deviceOutputMixdowns;
    InputBus deviceOutput;

    // Which device channels a period uses, asked of the units that read the
    // device input and feed the device output at the top of the period.
    struct DeviceReader {
        Unit* unit = nullptr;
        int bus = 0;
        std::vector<std::pair<int, std::uint32_t>> channels; // (channel of the bus, device input feeding it)
        bool straight = false; // channel k from device input k, for all k: the flags apply as they are
    };
    struct OutputFeed {
        int channel = -1; // the writer's channel that feeds it, -1 for none (silent)
        bool always = false;
    };
    std::vector<DeviceReader> deviceReaders;
    std::vector<std::uint8_t> deviceInputsAlwaysRead; // one per device input
    Unit* deviceWriter = nullptr;                      // whose output bus feeds the device output
    int deviceWriterBus = 0;
    std::vector<OutputFeed> deviceOutputFeeds;        // one per deviceOutput channel
    bool outputFeedsStraight = false;                  // each device output k fed by the writer's channel k
    // The render thread's own, sized here: this period's answer, and how many
    // frames of each device input's buffer are known to be silent.
    std::vector<std::uint8_t> inputsInUse;
    std::vector<std::uint8_t> outputsInUse;
    std::vector<std::uint32_t> silentInputFrames;
    // The answer of the period before, and the channels it used as lists:
    // while the answer stays the same, a period walks just those.
    std::vector<std::uint8_t> previousInputsInUse;
    std::vector<std::uint8_t> previousOutputsInUse;
    std::vector<std::uint32_t> usedInputList;
    std::vector<std::uint32_t> usedOutputList;
    bool useSteady = false;
    bool useAnswered = false; // a first answer counts as a change
    std::uint32_t steadyFrames = 0; // the period length the last walk over all inputs was for
    hw::ChannelUse channelUse;

    // Owners of the memory the views above point into.
    std::vector<std::unique_ptr<float[]>> buffers;
    std::vector<std::vector<const float*>> inputChannelLists;
    std::vector<std::vector<float*>> outputChannelLists;
    std::vector<std::shared_ptr<Unit>> units;
    std::vector<std::shared_ptr<Tap>> tapOwners;
};

} // namespace corvane::engine
