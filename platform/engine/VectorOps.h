#pragma once
// Render thread (and tap thread): the sample loops every mixing stage shares.
// They are written on explicit four-float vectors with a scalar tail, so they
// run packed at any optimisation level instead of depending on the cost model
// of the auto-vectoriser (g++ 12 at -O2 leaves loops with a runtime trip count
// or a possible overlap scalar). Buffers need no particular alignment.

#include "platform/system/RealtimeScope.h"

#include <cstddef>

namespace corvane::engine::vec {

// out[i] = gain * in[i]. `in` and `out` are the same buffer or do not overlap.
CORVANE_REALTIME
void scale(const float* in, float gain, float* out, std::size_t frames) noexcept;

// out[i] += gain * in[i]. `in` and `out` are the same buffer or do not overlap.
CORVANE_REALTIME
void addScaled(const float* in, float gain, float* out, std::size_t frames) noexcept;

// out[i] = (sources[0][i] + ... + sources[count - 1][i]) / count, count >= 1.
// `out` may be one of the sources: every frame is read from all of them before
// it is written.
CORVANE_REALTIME
void average(const float* const* sources, int count, float* out, std::size_t frames) noexcept;

// Sets every NaN or infinite sample of `buffer` to 0 and tells whether there
// was any, so a misbehaving plug-in cannot poison everything mixed after it.
CORVANE_REALTIME
bool scrubNonFinite(float* buffer, std::size_t frames) noexcept;

// The largest magnitude and the sum of squares of `frames` samples, for a
// meter: NaN and infinity count as silence, so a broken buffer cannot stick.
struct Levels {
    float peak = 0.0f;
    double sumSquares = 0.0;
};
CORVANE_REALTIME
Levels levels(const float* in, std::size_t frames) noexcept;

} // namespace corvane::engine::vec
