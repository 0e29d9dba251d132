#pragma once
// The dry path of a plug-in's bypass: the strip's input, adapted to the
// strip's output width and delayed as long as the plug-in's latency, and the
// short cross-fade between it and the plug-in's output, so that switching
// between the two neither clicks nor jumps in time. In process it is the
// host's bypass of a plug-in without an enable port; isolated it is also
// what a strip plays while its host gives no answer.
//
// Threads: prepare() and clear() on any thread while no period runs; mix()
// and replace() on the render thread (no allocation).

#include "platform/system/RealtimeScope.h"

#include <cstdint>
#include <vector>

namespace corvane::lv2 {

class DryPath {
public:
    // Room for blocks of up to `maxFrames` and latencies of twice
    // `latencyFrames` or a tenth of a second, whichever is more: plug-ins
    // change their latency with their settings. Fully wet, the line silent.
    void prepare(double sampleRate, std::uint32_t maxFrames, int outputChannels, double latencyFrames);
    // The line silent again; `wet` 1: the plug-in's output, 0: the dry path.
    void clear(float wet);

    // The input of this period into the line. `outputs` hold the plug-in's
    // output; they become the dry path delayed by `latencyFrames` (rounded,
    // and no longer than the line holds) where bypassed, cross-fading towards
    // it or back. Fully wet with no latency it costs nothing.
    CORVANE_REALTIME
    void mix(const float* const* inputs, int inputChannels, float* const* outputs, int outputChannels,
             std::uint32_t frames, double latencyFrames, bool bypassed) noexcept;
    // A period without the plug-in's output: `outputs` are the dry path at
    // once (there is nothing to fade from), and a later mix() fades back.
    CORVANE_REALTIME
    void replace(const float* const* inputs, int inputChannels, float* const* outputs, int outputChannels,
                 std::uint32_t frames, double latencyFrames) noexcept;

private:
    // This period's input, delayed, into `dry_`; how many frames it was delayed.
    CORVANE_REALTIME
    std::uint32_t delayInput(const float* const* inputs, int inputChannels, int outputChannels, std::uint32_t frames,
                             double latencyFrames) noexcept;

    std::vector<std::vector<float>> line_; // one per output channel
    std::uint32_t mask_ = 0;
    std::uint32_t write_ = 0;
    std::uint32_t maxFrames_ = 0;
    std::vector<std::vector<float>> dry_; // one block per output channel
    std::vector<float*> dryPointers_;
    float wet_ = 1.0f;      // 1: the plug-in's output, 0: the dry path
    float fadeStep_ = 1.0f; // per frame
};

} // namespace corvane::lv2
