#pragma once
// What an ALSA PCM accepts, found by opening it (non-blocking, so a device
// someone holds answers EBUSY at once) and asking its hardware parameters.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace corvane::hw::alsa {

// The rates offered to the user, where the device accepts them.
inline constexpr double kCandidateRates[] = {44100, 48000, 88200, 96000, 176400, 192000};
// Plug-in PCMs accept any channel count; offer no more than this.
inline constexpr std::uint32_t kMaxChannels = 64;
// The period sizes offered, where the device accepts them.
inline constexpr std::uint32_t kMinPeriodFrames = 16;
inline constexpr std::uint32_t kMaxPeriodFrames = 8192;

struct PcmCapabilities {
    std::uint32_t inputs = 0;  // 0: no capture side
    std::uint32_t outputs = 0; // 0: no playback side
    std::vector<double> rates; // accepted by every side there is
    std::uint32_t minPeriod = kMinPeriodFrames;
    std::uint32_t maxPeriod = kMaxPeriodFrames;
    // The powers of two in that range every side takes: the sizes offered to
    // the user, as JACK offers them. Empty when the device takes none.
    std::vector<std::uint32_t> periodSizes;
};

struct ProbeResult {
    std::optional<PcmCapabilities> capabilities; // none when no side opened
    int error = 0;                               // negative errno of the last side that failed
};

// Main or a background thread; `capture`/`playback` say which sides to try.
ProbeResult probePcm(const std::string& name, bool capture, bool playback);

// The period size nearest `frames` that the PCM takes at `rate` (playback's
// answer when it has both sides, as I/O asks it first); none when it does not
// open (someone holds it, us included).
std::optional<std::uint32_t> nearestPeriod(const std::string& name, bool capture, bool playback, double rate,
                                           std::uint32_t frames);

} // namespace corvane::hw::alsa
