#pragma once
// What the virtual device feeds into one input channel. Every signal is a pure
// function of the frame index counted from the start of I/O, so a run is
// reproducible whatever the period size.

#include <cstdint>
#include <string>
#include <variant>

namespace corvane::hw::virt {

// amplitude * sin(2 pi * frequencyHz * n / rate)
struct Sine {
    double frequencyHz = 440.0;
    double amplitude = 0.1;
};

// `amplitude` at firstFrame, firstFrame + intervalFrames, ...; 0 elsewhere.
// An interval of 0 gives a single impulse.
struct Impulse {
    std::uint64_t intervalFrames = 0;
    double amplitude = 1.0;
    std::uint64_t firstFrame = 0;
};

// Uniform white noise in [-amplitude, amplitude), the same for the same seed.
struct Noise {
    double amplitude = 0.1;
    std::uint64_t seed = 1;
};

struct Silence {};

// A WAV file (16-bit PCM or 32-bit float) played in a loop at the device's rate.
// A mono file feeds any channel; a file with more channels gives input channel c
// its own channel c, or its channel 0 when it has fewer channels than that.
struct Wav {
    std::string path;
};

using Signal = std::variant<Silence, Sine, Impulse, Noise, Wav>;

} // namespace corvane::hw::virt
