#pragma once
// What the graph engine needs of an effect it hosts (the LV2 host implements it).
// The engine owns the buffers; the processor only reads and writes them.

#include <time.h>

#include <cstdint>
#include <string>

namespace corvane::engine {

class EffectProcessor {
public:
    virtual ~EffectProcessor() = default;

    // Main thread, while the graph is stopped: get ready to process `inputChannels`
    // in and `outputChannels` out (1 or 2 each, the strip's widths) at `sampleRate`,
    // at most `maxFrames` per call. Allocates everything process() will touch.
    // Returns false with a readable reason in `error`.
    virtual bool prepare(double sampleRate, std::uint32_t maxFrames, int inputChannels, int outputChannels,
                         std::string& error) = 0;

    // Real-time thread: no allocation, lock, I/O or logging. `inputs` and
    // `outputs` hold the prepared channel counts, `frames` <= maxFrames. Must fill
    // every output sample (bypass included).
    virtual void process(const float* const* inputs, float* const* outputs, std::uint32_t frames) noexcept = 0;

    // Main thread, while stopped: forget any audio history (delay lines, tails).
    virtual void reset() {}

    // Any thread: the processing latency in seconds (0 when none is reported).
    virtual double latencySeconds() const { return 0.0; }

    // An effect whose work runs elsewhere (in another process) is handed its
    // input when its turn comes and asked for its output only when something
    // reads it, so that it works while the rest of the period renders. Such an
    // effect says so (for as long as it lives) and takes the two halves of
    // process() on the render thread: begin() with the input, then finish(),
    // which may wait until `deadline` (CLOCK_MONOTONIC) and no longer.
    virtual bool rendersAhead() const { return false; }
    virtual void begin(const float* const* inputs, std::uint32_t frames) noexcept {
        (void)inputs;
        (void)frames;
    }
    virtual void finish(float* const* outputs, const timespec& deadline) noexcept {
        (void)outputs;
        (void)deadline;
    }
};

} // namespace corvane::engine
