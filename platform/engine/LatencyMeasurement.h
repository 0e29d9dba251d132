#pragma once
// Reading a round-trip delay out of what came back of a LatencyTestSignal:
// each tone's phase in the last window of the recording gives the delay modulo
// that tone's period; phase differences between tones resolve it coarsely,
// the higher tones to a small fraction of a frame. Inverted polarity shifts
// every phase by half a cycle, which the differences cancel and the tones an
// octave apart show. Pure functions of the recording, any thread but the
// real-time one.

#include "platform/engine/LatencyTestSignal.h"

#include <cstdint>
#include <span>
#include <vector>

namespace corvane::engine {

enum class LatencyVerdict {
    Measured,
    NoSignal,     // the tones are not in what came back
    LevelTooLow,  // they are, but too weak or too noisy to be measured
    Unclear,      // they are, but their phases do not agree on one delay
    RunsDisagree, // several runs, each measured, do not agree (combined results only)
};

struct LatencyReading {
    LatencyVerdict verdict = LatencyVerdict::NoSignal;
    double frames = 0;     // the delay, when measured
    bool inverted = false;
    double levelDb = 0;    // what came back against what was played
};

// `recorded` holds the input of one run from its first frame on, at least
// signal.recordFrames() of it.
LatencyReading readLatency(const LatencyTestSignal& signal, std::span<const float> recorded);

struct LatencyResult {
    LatencyReading combined; // verdict and, when measured, the median delay
    double spreadFrames = 0; // the largest difference between two runs
    std::vector<LatencyReading> runs;
};

// Runs agree within `toleranceFrames`, or the result says they do not. The
// first run that is not measured decides the verdict.
LatencyResult combineLatencyRuns(std::vector<LatencyReading> runs, double toleranceFrames = 0.5);

} // namespace corvane::engine
