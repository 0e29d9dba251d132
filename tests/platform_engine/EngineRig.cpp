#include "tests/platform_engine/EngineRig.h"

#include <gtest/gtest.h>

namespace corvane::test {

using engine::ParameterScope;

EngineRig::EngineRig(double rate, std::uint32_t periodFrames) : sampleRate(rate) {
    auto manual = std::make_unique<ManualBackend>(
        std::vector<ManualBackend::Device>{{kDevice, 8, 8, rate, periodFrames}, {kOtherDevice, 2, 2, 44100.0, 64}});
    backend = manual.get();
    std::vector<std::unique_ptr<hw::Backend>> backends;
    backends.push_back(std::move(manual));
    hardware = std::make_unique<hw::AudioHardware>(std::move(backends));
    engine = std::make_unique<engine::Engine>(*hardware);
    engine->setDevice(kDevice);
}

Channels EngineRig::inputs(std::uint32_t frames, int index) const {
    Channels channels(8, std::vector<float>(frames));
    for (int c = 0; c < 8; ++c)
        for (std::uint32_t f = 0; f < frames; ++f)
            channels[static_cast<std::size_t>(c)][f] = sampleAt(c, f, index);
    return channels;
}

float sampleAt(int channel, std::uint32_t frame, int period) {
    const auto n = static_cast<std::uint32_t>(channel) * 7919u + frame * 104729u + static_cast<std::uint32_t>(period) * 15485863u;
    return static_cast<float>((n % 1999u) + 1u) / 2048.0f * ((n & 1u) ? 1.0f : -1.0f);
}

void setUnity(engine::MatrixMixerUnit& mixer) {
    for (int i = 0; i < mixer.inputChannelCount(); ++i)
        mixer.setParameter(ParameterScope::Input, static_cast<std::uint32_t>(i), 1.0f);
    for (int o = 0; o < mixer.outputChannelCount(); ++o)
        mixer.setParameter(ParameterScope::Output, static_cast<std::uint32_t>(o), 1.0f);
    mixer.setParameter(ParameterScope::Global, engine::kMasterVolumeElement, 1.0f);
}

std::shared_ptr<engine::MatrixMixerUnit> makeCombiner(const std::vector<int>& widths, int outputs,
                                                      const std::vector<std::pair<int, int>>& routes, double rate) {
    auto mixer = std::make_shared<engine::MatrixMixerUnit>();
    std::string error;
    EXPECT_TRUE(mixer->setInputBusCount(static_cast<int>(widths.size()), error)) << error;
    for (std::size_t b = 0; b < widths.size(); ++b)
        EXPECT_TRUE(mixer->setInputFormat(static_cast<int>(b), {widths[b], rate}, error)) << error;
    EXPECT_TRUE(mixer->setOutputFormat(0, {outputs, rate}, error)) << error;
    setUnity(*mixer);
    for (auto [in, out] : routes)
        mixer->setParameter(ParameterScope::Global,
                            engine::crosspointElement(static_cast<std::uint32_t>(in), static_cast<std::uint32_t>(out)), 1.0f);
    return mixer;
}

std::shared_ptr<engine::MatrixMixerUnit> makeSplitter(const std::vector<int>& picks, double rate) {
    std::vector<std::pair<int, int>> routes;
    for (std::size_t k = 0; k < picks.size(); ++k)
        routes.emplace_back(picks[k], static_cast<int>(k));
    return makeCombiner({8}, static_cast<int>(picks.size()), routes, rate);
}

} // namespace corvane::test
