#pragma once
// A graph engine on a ManualBackend device, and the splitter / combiner shapes
// the application builds, for driving offline renders from tests.

#include "platform/engine/Engine.h"
#include "platform/engine/MatrixMixerUnit.h"
#include "platform/hardware/AudioHardware.h"
#include "tests/platform_engine/ManualBackend.h"

#include <memory>
#include <utility>
#include <vector>

namespace corvane::test {

inline constexpr hw::ObjectId kDevice = 0x100;
inline constexpr hw::ObjectId kOtherDevice = 0x101;

struct EngineRig {
    explicit EngineRig(double sampleRate = 48000.0, std::uint32_t periodFrames = 256, int inputs = 8, int outputs = 8);

    // One period on the device's I/O thread.
    Channels period(const Channels& inputs, std::uint32_t frames) { return backend->runPeriod(kDevice, inputs, frames); }
    // Inputs of every device channel for period number `index`.
    Channels inputs(std::uint32_t frames, int index) const;

    engine::Format format(int channels) const { return {channels, sampleRate}; }

    double sampleRate;
    int inputCount;
    ManualBackend* backend;
    std::unique_ptr<hw::AudioHardware> hardware;
    std::unique_ptr<engine::Engine> engine;
};

// A distinct, repeatable value for every channel, frame and period, none zero.
float sampleAt(int channel, std::uint32_t frame, int period);

// All device inputs in, `picks` (input channel numbers) out in order, unity gains.
std::shared_ptr<engine::MatrixMixerUnit> makeSplitter(int deviceInputs, const std::vector<int>& picks, double rate);
// Input buses of `widths`, `outputs` channels out; `routes` are (input channel
// counted across buses, output channel) pairs at unity gain.
std::shared_ptr<engine::MatrixMixerUnit> makeCombiner(const std::vector<int>& widths, int outputs,
                                                      const std::vector<std::pair<int, int>>& routes, double rate);

} // namespace corvane::test
