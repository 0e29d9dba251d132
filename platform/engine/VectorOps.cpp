// Render thread (and tap thread): packed sample loops, no allocation, no locks.
#include "platform/engine/VectorOps.h"

#include <cstdint>
#include <cstring>

namespace corvane::engine::vec {

namespace {

// Four lanes: what every x86-64 (SSE) and AArch64 (NEON) machine packs natively.
constexpr std::size_t kLanes = 4;
using Floats = float __attribute__((vector_size(kLanes * sizeof(float))));
using Bits = std::int32_t __attribute__((vector_size(kLanes * sizeof(std::int32_t))));

// memcpy instead of a cast: the buffers are only float-aligned, and the
// compiler turns a fixed-size copy into one unaligned vector move.
template <typename Vector>
Vector load(const float* from) noexcept {
    Vector v;
    std::memcpy(&v, from, sizeof v);
    return v;
}

template <typename Vector>
void store(float* to, Vector v) noexcept {
    std::memcpy(to, &v, sizeof v);
}

constexpr std::size_t packed(std::size_t frames) { return frames - frames % kLanes; }

// An IEEE single is NaN or infinite exactly when its exponent bits are all set.
constexpr std::int32_t kExponent = 0x7F800000;

bool isNonFinite(float sample) {
    std::int32_t bits;
    std::memcpy(&bits, &sample, sizeof bits);
    return (bits & kExponent) == kExponent;
}

} // namespace

CORVANE_REALTIME
void scale(const float* in, float gain, float* out, std::size_t frames) noexcept {
    const std::size_t body = packed(frames);
    for (std::size_t i = 0; i < body; i += kLanes)
        store(out + i, load<Floats>(in + i) * gain);
    for (std::size_t i = body; i < frames; ++i)
        out[i] = in[i] * gain;
}

CORVANE_REALTIME
void addScaled(const float* in, float gain, float* out, std::size_t frames) noexcept {
    const std::size_t body = packed(frames);
    for (std::size_t i = 0; i < body; i += kLanes)
        store(out + i, load<Floats>(out + i) + load<Floats>(in + i) * gain);
    for (std::size_t i = body; i < frames; ++i)
        out[i] += in[i] * gain;
}

CORVANE_REALTIME
void average(const float* const* sources, int count, float* out, std::size_t frames) noexcept {
    const float gain = 1.0f / static_cast<float>(count);
    const std::size_t body = packed(frames);
    // Frame blocks outside, channels inside: a block is read from every source
    // before it is stored, which is what lets `out` be one of them.
    for (std::size_t i = 0; i < body; i += kLanes) {
        Floats sum = load<Floats>(sources[0] + i);
        for (int c = 1; c < count; ++c)
            sum += load<Floats>(sources[c] + i);
        store(out + i, sum * gain);
    }
    for (std::size_t i = body; i < frames; ++i) {
        float sum = sources[0][i];
        for (int c = 1; c < count; ++c)
            sum += sources[c][i];
        out[i] = sum * gain;
    }
}

CORVANE_REALTIME
bool scrubNonFinite(float* buffer, std::size_t frames) noexcept {
    // A read-only pass first: a healthy buffer, the usual case, is never written.
    const std::size_t body = packed(frames);
    Bits seen{};
    for (std::size_t i = 0; i < body; i += kLanes)
        seen |= (load<Bits>(buffer + i) & kExponent) == kExponent;
    bool found = (seen[0] | seen[1] | seen[2] | seen[3]) != 0;
    for (std::size_t i = body; i < frames; ++i)
        found |= isNonFinite(buffer[i]);
    if (!found)
        return false;
    for (std::size_t i = 0; i < body; i += kLanes) {
        const Bits bits = load<Bits>(buffer + i);
        store(buffer + i, bits & ~((bits & kExponent) == kExponent));
    }
    for (std::size_t i = body; i < frames; ++i)
        if (isNonFinite(buffer[i]))
            buffer[i] = 0.0f;
    return true;
}

CORVANE_REALTIME
Levels levels(const float* in, std::size_t frames) noexcept {
    // Two accumulators of four lanes each keep two additions in flight. The
    // squares are summed in single precision per block of lanes: a meter
    // reads a few thousand samples at a time, far from where that loses a
    // digit it shows.
    constexpr std::size_t kStep = 2 * kLanes;
    const Bits magnitude = Bits{} + 0x7FFFFFFF;
    const Bits exponent = Bits{} + kExponent;
    auto finiteMagnitude = [&](Floats v) {
        Bits bits;
        std::memcpy(&bits, &v, sizeof bits);
        // Non-finite lanes become +0, the sign goes: |x| or 0.
        bits = ((bits & exponent) != exponent) & (bits & magnitude);
        Floats out;
        std::memcpy(&out, &bits, sizeof out);
        return out;
    };
    Floats peakA{}, peakB{}, sumA{}, sumB{};
    const std::size_t body = frames - frames % kStep;
    for (std::size_t i = 0; i < body; i += kStep) {
        const Floats a = finiteMagnitude(load<Floats>(in + i));
        const Floats b = finiteMagnitude(load<Floats>(in + i + kLanes));
        peakA = a > peakA ? a : peakA;
        peakB = b > peakB ? b : peakB;
        sumA += a * a;
        sumB += b * b;
    }
    Levels levels;
    const Floats peaks = peakA > peakB ? peakA : peakB;
    const Floats sums = sumA + sumB;
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        levels.peak = peaks[lane] > levels.peak ? peaks[lane] : levels.peak;
        levels.sumSquares += double(sums[lane]);
    }
    auto add = [&](float sample) {
        const float x = isNonFinite(sample) ? 0.0f : (sample < 0.0f ? -sample : sample);
        levels.peak = x > levels.peak ? x : levels.peak;
        levels.sumSquares += double(x) * double(x);
    };
    // Samples past 1e19 (a plug-in gone unstable) square beyond a float:
    // such a buffer is summed again in double precision.
    if (isNonFinite(float(levels.sumSquares))) {
        levels = {};
        for (std::size_t i = 0; i < body; ++i)
            add(in[i]);
    }
    for (std::size_t i = body; i < frames; ++i)
        add(in[i]);
    return levels;
}

} // namespace corvane::engine::vec
