#pragma once
// The format of one bus or connection: non-interleaved 32-bit float channels
// at a sample rate.

#include <string>

namespace corvane::engine {

struct Format {
    int channels = 0;
    double sampleRate = 0.0;

    bool isValid() const { return channels > 0 && sampleRate > 0.0; }
    friend bool operator==(const Format&, const Format&) = default;
};

// "2 ch, 48000 Hz", for error messages and logs.
std::string describe(const Format& format);

} // namespace corvane::engine
