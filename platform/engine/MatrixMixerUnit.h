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

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

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
    // By the crosspoints that are on: an input channel no crosspoint takes is
    // not read, an output channel none feeds is silent.
    const std::uint8_t* inputsRead(int bus) noexcept override;
    const std::uint8_t* outputsWritten(int bus) noexcept override;

private:
    // A crosspoint that was non-zero when its list was made. The gain is read
    // through the pointer each period, so a later change still counts.
    struct Route {
        const std::atomic<float>* crosspoint = nullptr;
        std::uint32_t input = 0; // counted across buses
        std::uint32_t output = 0;
        // Where input `input` arrives, so a period reads only the channels it mixes.
        std::uint32_t inputBus = 0;
        std::uint32_t inputBusChannel = 0;
    };
    struct RouteList {
        std::vector<Route> routes; // by output, then input: sums keep channel order
        // Per channel, counted across buses: whether any route reads (writes) it;
        // and where each bus's channels begin in that count.
        std::vector<std::uint8_t> reads;
        std::vector<std::uint8_t> writes;
        std::vector<std::uint32_t> inputStarts;
        std::vector<std::uint32_t> outputStarts;
    };

    void busesChanged() override;
    const std::atomic<float>* find(ParameterScope scope, std::uint32_t element) const;
    // Main thread: lists the non-zero crosspoints and hands the list over.
    void publishRoutes();
    // Render thread: the newest list handed over, taken once per period.
    CORVANE_REALTIME
    const RouteList& routesForPeriod() noexcept;

    int inputChannels_ = 0;
    int outputChannels_ = 0;
    // Sized on the main thread while not rendering; the render thread only loads.
    std::unique_ptr<std::atomic<float>[]> inputVolumes_;
    std::unique_ptr<std::atomic<float>[]> outputVolumes_;
    std::unique_ptr<std::atomic<float>[]> crosspoints_; // [input * outputChannels_ + output]
    std::atomic<float> master_{0.0f};

    // Three route lists: the main thread owns one and fills it, the render
    // thread owns one and reads it, and the third sits in handover_. Each side
    // trades its own for that one with a single exchange, so neither ever
    // waits for the other and neither touches a list the other owns.
    static constexpr std::uint32_t kFresh = 4; // handover_'s list is newer than the reader's
    std::array<RouteList, 3> routes_;
    std::atomic<std::uint32_t> handover_{1};
    std::uint32_t writing_ = 0; // main thread
    std::uint32_t reading_ = 2; // render thread

    // Render thread (sized with the gains): per output channel, the buffer it
    // last silenced and for how many frames, so that an output no route feeds
    // is cleared once rather than every period.
    struct Silenced {
        const float* buffer = nullptr;
        std::uint32_t frames = 0;
    };
    std::vector<Silenced> silenced_;
};

} // namespace corvane::engine
