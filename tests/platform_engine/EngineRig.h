#pragma once
// A graph engine on a ManualBackend device, and the splitter / combiner shapes
// the application builds, for driving offline renders from tests.

#include "platform/engine/Engine.h"
#include "platform/engine/MatrixMixerUnit.h"
#include "platform/hardware/AudioHardware.h"
#include "tests/platform_engine/ManualBackend.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

namespace corvane::test {

inline constexpr hw::ObjectId kDevice = 0x100;
inline constexpr hw::ObjectId kOtherDevice = 0x101;

// A distinct, repeatable value for every channel, frame and period, none zero.
float sampleAt(int channel, std::uint32_t frame, int period);

struct EngineRig {
    explicit EngineRig(double sampleRate = 48000.0, std::uint32_t periodFrames = 256);

    // Period number `index` of sampleAt() on every device input, run on the I/O thread.
    Channels inputs(std::uint32_t frames, int index) const;
    Channels period(const Channels& in, std::uint32_t frames) { return backend->runPeriod(kDevice, in, frames); }
    engine::Format format(int channels) const { return {channels, sampleRate}; }
    void start() {
        std::string error;
        ASSERT_TRUE(engine->start(error)) << error;
    }

    double sampleRate;
    ManualBackend* backend;
    std::unique_ptr<hw::AudioHardware> hardware;
    std::unique_ptr<engine::Engine> engine;
};

// Every volume and the master at unity.
void setUnity(engine::MatrixMixerUnit& mixer);
// Input buses of `widths`, `outputs` channels out; `routes` are (input channel
// counted across buses, output channel) pairs at unity gain.
std::shared_ptr<engine::MatrixMixerUnit> makeCombiner(const std::vector<int>& widths, int outputs,
                                                      const std::vector<std::pair<int, int>>& routes, double rate);
// All eight device inputs in, `picks` (input channel numbers) out in order.
std::shared_ptr<engine::MatrixMixerUnit> makeSplitter(const std::vector<int>& picks, double rate);

} // namespace corvane::test
