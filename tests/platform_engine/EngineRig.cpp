#include "tests/platform_engine/EngineRig.h"

#include <gtest/gtest.h>

namespace corvane::test {

using engine::MatrixMixerUnit;
using engine::ParameterScope;

EngineRig::EngineRig(double rate, std::uint32_t periodFrames, int inputs, int outputs)
    : sampleRate(rate), inputCount(inputs) {
    auto manual = std::make_unique<ManualBackend>(std::vector<ManualBackend::Device>{
        {kDevice, inputs, outputs, rate, periodFrames}, {kOtherDevice, 2, 2, 44100.0, 64}});
    backend = manual.get();
    std::vector<std::unique_ptr<hw::Backend>> backends;
    backends.push_back(std::move(manual));
    hardware = std::make_unique<hw::AudioHardware>(std::move(backends));
    engine = std::make_unique<engine::Engine>(*hardware);
    engine->setDevice(kDevice);
}

Channels EngineRig::inputs(std::uint32_t frames, int index) const {
    Channels channels(static_cast<std::size_t>(inputCount), std::vector<float>(frames));
    for (int c = 0; c < inputCount; ++c)
        for (std::uint32_t f = 0; f < frames; ++f)
            channels[static_cast<std::size_t>(c)][f] = sampleAt(c, f, index);
    return channels;
}

float sampleAt(int channel, std::uint32_t frame, int period) {
    const auto n = static_cast<std::uint32_t>(channel) * 7919u + frame * 104729u + static_cast<std::uint32_t>(period) * 15485863u;
    return static_cast<float>((n % 1999u) + 1u) / 2048.0f * ((n & 1u) ? 1.0f : -1.0f);
}

namespace {

void unity(MatrixMixerUnit& mixer) {
    for (int i = 0; i < mixer.inputChannelCount(); ++i)
        mixer.setParameter(ParameterScope::Input, static_cast<std::uint32_t>(i), 1.0f);
    for (int o = 0; o < mixer.outputChannelCount(); ++o)
        mixer.setParameter(ParameterScope::Output, static_cast<std::uint32_t>(o), 1.0f);
    mixer.setParameter(ParameterScope::Global, engine::kMasterVolumeElement, 1.0f);
}

} // namespace

std::shared_ptr<MatrixMixerUnit> makeSplitter(int deviceInputs, const std::vector<int>& picks, double rate) {
    auto mixer = std::make_shared<MatrixMixerUnit>();
    std::string error;
    EXPECT_TRUE(mixer->setInputFormat(0, {deviceInputs, rate}, error)) << error;
    EXPECT_TRUE(mixer->setOutputFormat(0, {static_cast<int>(picks.size()), rate}, error)) << error;
    unity(*mixer);
    for (std::size_t k = 0; k < picks.size(); ++k)
        mixer->setParameter(ParameterScope::Global,
                            engine::crosspointElement(static_cast<std::uint32_t>(picks[k]), static_cast<std::uint32_t>(k)),
                            1.0f);
    return mixer;
}

std::shared_ptr<MatrixMixerUnit> makeCombiner(const std::vector<int>& widths, int outputs,
                                              const std::vector<std::pair<int, int>>& routes, double rate) {
    auto mixer = std::make_shared<MatrixMixerUnit>();
    std::string error;
    EXPECT_TRUE(mixer->setInputBusCount(static_cast<int>(widths.size()), error)) << error;
    for (std::size_t b = 0; b < widths.size(); ++b)
        EXPECT_TRUE(mixer->setInputFormat(static_cast<int>(b), {widths[b], rate}, error)) << error;
    EXPECT_TRUE(mixer->setOutputFormat(0, {outputs, rate}, error)) << error;
    unity(*mixer);
    for (auto [in, out] : routes)
        mixer->setParameter(ParameterScope::Global,
                            engine::crosspointElement(static_cast<std::uint32_t>(in), static_cast<std::uint32_t>(out)), 1.0f);
    return mixer;
}

} // namespace corvane::test
