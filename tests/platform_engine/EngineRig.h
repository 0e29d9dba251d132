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
inline float sampleAt(int channel, std::uint32_t frame, int period) {
    const auto n = static_cast<std::uint32_t>(channel) * 7919u + frame * 104729u +
                   static_cast<std::uint32_t>(period) * 15485863u;
    return static_cast<float>((n % 1999u) + 1u) / 2048.0f * ((n & 1u) ? 1.0f : -1.0f);
}

struct EngineRig {
    explicit EngineRig(double rate = 48000.0, std::uint32_t periodFrames = 256) : sampleRate(rate) {
        auto manual = std::make_unique<ManualBackend>(
            std::vector<ManualBackend::Device>{{8, 8, rate, periodFrames}, {2, 2, 44100.0, 64}});
        backend = manual.get();
        std::vector<std::unique_ptr<hw::Backend>> backends;
        backends.push_back(std::move(manual));
        hardware = std::make_unique<hw::AudioHardware>(std::move(backends));
        engine = std::make_unique<engine::Engine>(*hardware);
        engine->setDevice(kDevice);
    }

    // sampleAt() of period number `index` on every device input.
    Channels inputs(std::uint32_t frames, int index) const {
        Channels channels(8, std::vector<float>(frames));
        for (std::size_t c = 0; c < channels.size(); ++c)
            for (std::uint32_t f = 0; f < frames; ++f)
                channels[c][f] = sampleAt(static_cast<int>(c), f, index);
        return channels;
    }
    // One period on the device's I/O thread.
    Channels period(const Channels& in, std::uint32_t frames) {
        return backend->runPeriod(kDevice, in, frames);
    }
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
inline void setUnity(engine::MatrixMixerUnit& mixer) {
    for (int i = 0; i < mixer.inputChannelCount(); ++i)
        mixer.setParameter(engine::ParameterScope::Input, static_cast<std::uint32_t>(i), 1.0f);
    for (int o = 0; o < mixer.outputChannelCount(); ++o)
        mixer.setParameter(engine::ParameterScope::Output, static_cast<std::uint32_t>(o), 1.0f);
    mixer.setParameter(engine::ParameterScope::Global, engine::kMasterVolumeElement, 1.0f);
}

// Input buses of `widths`, `outputs` channels out; `routes` are (input channel
// counted across buses, output channel) pairs at unity gain.
inline std::shared_ptr<engine::MatrixMixerUnit> makeCombiner(const std::vector<int>& widths, int outputs,
                                                             const std::vector<std::pair<int, int>>& routes,
                                                             double rate) {
    auto mixer = std::make_shared<engine::MatrixMixerUnit>();
    std::string error;
    EXPECT_TRUE(mixer->setInputBusCount(static_cast<int>(widths.size()), error)) << error;
    for (std::size_t b = 0; b < widths.size(); ++b)
        EXPECT_TRUE(mixer->setInputFormat(static_cast<int>(b), {widths[b], rate}, error)) << error;
    EXPECT_TRUE(mixer->setOutputFormat(0, {outputs, rate}, error)) << error;
    setUnity(*mixer);
    for (auto [in, out] : routes)
        mixer->setParameter(
            engine::ParameterScope::Global,
            engine::crosspointElement(static_cast<std::uint32_t>(in), static_cast<std::uint32_t>(out)), 1.0f);
    return mixer;
}

// All eight device inputs in, `picks` (input channel numbers) out in order.
inline std::shared_ptr<engine::MatrixMixerUnit> makeSplitter(const std::vector<int>& picks, double rate) {
    std::vector<std::pair<int, int>> routes;
    for (std::size_t k = 0; k < picks.size(); ++k)
        routes.emplace_back(picks[k], static_cast<int>(k));
    return makeCombiner({8}, static_cast<int>(picks.size()), routes, rate);
}

} // namespace corvane::test
