#include "platform/engine/LatencyMeasurement.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <limits>
#include <numbers>

namespace corvane::engine {

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

// A tone's power in its bin against what noise puts into one bin. Below the
// first the tone is not there (noise alone passes it about once in 10^10);
// below the second its phase is too uncertain to resolve the delay safely.
constexpr double kDetectedSnr = 25.0;
constexpr double kMeasurableSnr = 1000.0;
// Weaker than this, the cable is likely the wrong one or the gain is all the
// way down, whatever the noise.
constexpr double kLowestLevelDb = -60.0;
// How far one tone's phase may stray from the delay all of them agree on.
constexpr double kPhaseTolerance = 0.35;

double wrapped(double radians) { return std::remainder(radians, kTwoPi); }

// `base` moved by whole `period`s to lie nearest to `target`.
double nearest(double base, double period, double target) {
    return base + period * std::round((target - base) / period);
}

struct ToneReading {
    double cycles;
    double phase; // of the tone that came back, its starting phase taken away
    double gain;
    double snr;
};

std::vector<ToneReading> readTones(const LatencyTestSignal& signal, std::span<const float> window,
                                   std::uint64_t firstFrame) {
    const std::uint32_t n = signal.windowFrames();
    std::vector<double> cosine(n);
    for (std::uint32_t i = 0; i < n; ++i)
        cosine[i] = std::cos(kTwoPi * i / n);
    double energy = 0;
    for (float x : window)
        energy += double(x) * x;
    std::vector<ToneReading> tones;
    double toneEnergy = 0;
    for (const auto& tone : signal.tones()) {
        std::complex<double> sum;
        for (std::uint32_t i = 0; i < n; ++i) {
            // The phase of absolute frame firstFrame + i, exact in integers.
            const auto step = (std::uint64_t(tone.cycles) * (firstFrame + i)) % n;
            sum += double(window[i]) * std::complex<double>(cosine[step], -cosine[(step + 3 * n / 4) % n]);
        }
        toneEnergy += 2 * std::norm(sum) / n;
        const auto response = sum * 2.0 / (tone.amplitude * n) * std::polar(1.0, -tone.phase);
        tones.push_back(ToneReading{double(tone.cycles), std::arg(response), std::abs(response), std::norm(sum)});
    }
    // What is left once the tones are taken out is noise; it puts n times
    // its variance into each bin.
    const double noiseVariance = std::max(energy - toneEnergy, 0.0) / n;
    const double noisePerBin = std::max(noiseVariance * n, std::numeric_limits<double>::min());
    for (auto& tone : tones)
        tone.snr /= noisePerBin;
    return tones;
}

} // namespace

LatencyReading readLatency(const LatencyTestSignal& signal, std::span<const float> recorded) {
    LatencyReading reading;
    const std::uint32_t n = signal.windowFrames();
    if (recorded.size() < signal.recordFrames())
        return reading;
    const std::uint64_t first = signal.recordFrames() - n;
    const auto tones = readTones(signal, recorded.subspan(first, n), first);

    std::size_t detected = 0;
    double gain = 0;
    double weakest = std::numeric_limits<double>::infinity();
    for (const auto& tone : tones) {
        detected += tone.snr >= kDetectedSnr ? 1 : 0;
        gain += tone.gain / tones.size();
        weakest = std::min(weakest, tone.snr);
    }
    reading.levelDb = gain > 0 ? 20 * std::log10(gain) : -std::numeric_limits<double>::infinity();
    if (detected * 2 <= tones.size())
        return reading;
    if (weakest < kMeasurableSnr || reading.levelDb < kLowestLevelDb) {
        reading.verdict = LatencyVerdict::LevelTooLow;
        return reading;
    }

    // A tone of c cycles per window turns by -2π c d / n over a delay of d.
    auto delayOf = [n](double phase, double cycles) { return -phase / kTwoPi * n / cycles; };
    // Coarse: the differences against the lowest tone, free of polarity.
    const auto& base = tones.front();
    double delay = 0;
    for (std::size_t k = 1; k < tones.size() && tones[k].cycles - base.cycles <= base.cycles; ++k) {
        const double cycles = tones[k].cycles - base.cycles;
        const double guess = delayOf(wrapped(tones[k].phase - base.phase), cycles);
        delay = k == 1 ? std::fmod(guess + n, double(n)) : nearest(guess, n / cycles, delay);
    }
    // The lowest tone itself is either where that delay puts it or half a cycle off.
    reading.inverted = std::abs(wrapped(base.phase + kTwoPi * base.cycles * delay / n)) > std::numbers::pi / 2;
    const double flip = reading.inverted ? std::numbers::pi : 0.0;

    // Fine: each tone unwrapped against the delay so far, then the least-squares
    // fit of all of them (the high tones weigh most).
    double weighted = 0;
    double weights = 0;
    for (const auto& tone : tones) {
        const double estimate = nearest(delayOf(wrapped(tone.phase - flip), tone.cycles), n / tone.cycles, delay);
        weighted += tone.cycles * tone.cycles * estimate;
        weights += tone.cycles * tone.cycles;
        delay = weighted / weights;
    }
    for (const auto& tone : tones)
        if (std::abs(wrapped(tone.phase - flip + kTwoPi * tone.cycles * delay / n)) > kPhaseTolerance) {
            reading.verdict = LatencyVerdict::Unclear;
            return reading;
        }
    reading.verdict = LatencyVerdict::Measured;
    reading.frames = delay;
    return reading;
}

LatencyResult combineLatencyRuns(std::vector<LatencyReading> runs, double toleranceFrames) {
    LatencyResult result;
    result.runs = std::move(runs);
    if (result.runs.empty())
        return result;
    for (const auto& run : result.runs)
        if (run.verdict != LatencyVerdict::Measured) {
            result.combined = run;
            return result;
        }
    std::vector<double> frames;
    for (const auto& run : result.runs)
        frames.push_back(run.frames);
    std::sort(frames.begin(), frames.end());
    result.spreadFrames = frames.back() - frames.front();
    result.combined = result.runs.front();
    const std::size_t middle = frames.size() / 2;
    result.combined.frames = frames.size() % 2 ? frames[middle] : (frames[middle - 1] + frames[middle]) / 2;
    const bool polarityAgrees = std::all_of(result.runs.begin(), result.runs.end(), [&](const auto& run) {
        return run.inverted == result.combined.inverted;
    });
    if (result.spreadFrames > toleranceFrames || !polarityAgrees)
        result.combined.verdict = LatencyVerdict::RunsDisagree;
    return result;
}

} // namespace corvane::engine
