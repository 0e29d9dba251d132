#pragma once
// A matrix mixer: every input channel (counted across all input buses, in bus
// order) reaches every output channel (likewise) through its own gain.
//
//   out[o] = sum over i of in[i] * crosspoint(i, o) * inputVolume(i) * outputVolume(o) * master
//
// Every gain starts at 0, so a fresh mixer is silent until it is written.
// Parameters are written on the main thread (the one that configures the
// mixer), also while the engine runs; the render thread reads them once per
// period without a lock, so a write acts from the next period on.

#include "platform/engine/Unit.h"

#include <atomic>
#include <cstdint>
#include <memory>

namespace corvane::engine {

enum class ParameterScope : std::uint32_t { Global = 0, Input = 1, Output = 2 };

// Global-scope element of the master volume.
inline constexpr std::uint32_t kMasterVolumeElement = 0xFFFFFFFF;

// Global-scope element of the crosspoint from input channel `input` to output
// channel `output` (both below 65536).
constexpr std::uint32_t crosspointElement(std::uint32_t input, std::uint32_t output) {
    return (input << 16) | output;
}

class MatrixMixerUnit final : public Unit {
public:
    explicit MatrixMixerUnit(int inputBuses = 1, int outputBuses = 1);
    ~MatrixMixerUnit() override;

    std::string name() const override { return "matrix mixer"; }

    // Input scope: element k is input channel k's volume. Output scope: output
    // channel k's volume. Global scope: kMasterVolumeElement or a crosspoint.
    // Elements beyond the current channel counts are ignored.
    void setParameter(ParameterScope scope, std::uint32_t element, float value);
    // 0 for an element that does not exist.
    float parameter(ParameterScope scope, std::uint32_t element) const;

    int inputChannelCount() const { return inputChannels_; }
    int outputChannelCount() const { return outputChannels_; }

    void render(const InputBus* inputs, const OutputBus* outputs, std::uint32_t frames) noexcept override;

private:
    void busesChanged() override;
    const std::atomic<float>* find(ParameterScope scope, std::uint32_t element) const;

    int inputChannels_ = 0;
    int outputChannels_ = 0;
    // Sized on the main thread while not rendering; the render thread only loads.
    std::unique_ptr<std::atomic<float>[]> inputVolumes_;
    std::unique_ptr<std::atomic<float>[]> outputVolumes_;
    std::unique_ptr<std::atomic<float>[]> crosspoints_; // [input * outputChannels_ + output]
    std::atomic<float> master_{0.0f};
};

} // namespace corvane::engine
