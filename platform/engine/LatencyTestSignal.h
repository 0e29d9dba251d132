#pragma once
// The signal a round-trip latency measurement plays: several sines at once,
// each a whole number of cycles in one analysis window, so that a window of
// what came back holds every tone's phase without leakage from the others.
// One run fades in, holds the tones steady for about a second and fades out;
// the recording of the same run ends where the fade-out begins.
//
// Made on the main thread; sample() only reads a table, so the real-time
// thread may call it.

#include <cstdint>
#include <vector>

namespace corvane::engine {

class LatencyTestSignal {
public:
    struct Tone {
        std::uint32_t cycles; // whole cycles per analysis window
        double amplitude;
        double phase;         // radians at frame 0 of a run
    };

    explicit LatencyTestSignal(double sampleRate);

    double sampleRate() const { return sampleRate_; }
    // The analysis window, and the period of the steady signal: the longest
    // delay a run tells apart.
    std::uint32_t windowFrames() const { return window_; }
    std::uint32_t fadeFrames() const { return fade_; }
    // Frames a run records from its start, and frames it plays (the fade-out more).
    std::uint64_t recordFrames() const { return record_; }
    std::uint64_t playFrames() const { return record_ + fade_; }
    const std::vector<Tone>& tones() const { return tones_; }

    // Frame `frame` of a run; 0 from playFrames() on.
    float sample(std::uint64_t frame) const noexcept;

private:
    double sampleRate_;
    std::uint32_t window_;
    std::uint32_t fade_;
    std::uint64_t record_;
    std::vector<Tone> tones_;
    std::vector<float> cycle_; // one window of the steady tones
};

} // namespace corvane::engine
