// render() runs on the real-time I/O thread: no allocation, no locks.
#include "platform/hardware/virtual/SignalSource.h"

#include "platform/hardware/virtual/WavReader.h"
#include "platform/system/RealtimeScope.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace corvane::hw::virt {

std::shared_ptr<const SignalSource> SignalSource::make(const Signal& signal, std::uint32_t channel,
                                                       std::string& error) {
    std::shared_ptr<SignalSource> source(new SignalSource(signal));
    if (const auto* wav = std::get_if<Wav>(&signal)) {
        auto audio = readWav(wav->path, error);
        if (!audio)
            return nullptr;
        const std::uint32_t fileChannel = channel < audio->channels ? channel : 0;
        const std::size_t frames = audio->frames();
        source->wav_.resize(frames);
        for (std::size_t i = 0; i < frames; ++i)
            source->wav_[i] = audio->samples[i * audio->channels + fileChannel];
    }
    return source;
}

Signal SignalSource::defaultSignal(std::uint32_t channel) {
    return Sine{200.0 * (channel + 1), 0.05 * (channel + 1)};
}

CORVANE_REALTIME
float SignalSource::noiseAt(std::uint64_t seed, std::uint64_t frame) noexcept {
    // splitmix64 finaliser over a mix of seed and frame.
    std::uint64_t z = seed * 0x9E3779B97F4A7C15ull + frame + 0x632BE59BD9B4E019ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    // The top 24 bits fit a float mantissa exactly.
    return static_cast<float>(z >> 40) / 8388608.0f - 1.0f;
}

CORVANE_REALTIME
void SignalSource::render(std::uint64_t firstFrame, double sampleRate, float* out,
                          std::uint32_t frames) const noexcept {
    if (const auto* sine = std::get_if<Sine>(&signal_)) {
        // Each sample is the phasor of its block's first frame turned by the
        // sample's place in the block: every 64th frame's phase is set afresh
        // from the frame number (whole cycles dropped, so it stays accurate
        // after hours), and the turns by 0..63 steps are made once per call.
        // So every sample depends on its frame index only, however the frames
        // are split into periods, and the samples of a block do not wait on
        // each other.
        constexpr std::uint64_t kAnchorFrames = 64;
        const double cyclesPerFrame = sine->frequencyHz / sampleRate;
        const double step = 2.0 * std::numbers::pi * (cyclesPerFrame - std::floor(cyclesPerFrame));
        const double stepCos = std::cos(step), stepSin = std::sin(step);
        double turnCos[kAnchorFrames], turnSin[kAnchorFrames];
        turnCos[0] = 1.0, turnSin[0] = 0.0;
        for (std::uint64_t k = 1; k < kAnchorFrames; ++k) {
            turnCos[k] = turnCos[k - 1] * stepCos - turnSin[k - 1] * stepSin;
            turnSin[k] = turnSin[k - 1] * stepCos + turnCos[k - 1] * stepSin;
        }
        for (std::uint32_t i = 0; i < frames;) {
            const std::uint64_t n = firstFrame + i;
            const std::uint64_t anchor = n - n % kAnchorFrames;
            const double cycles = cyclesPerFrame * static_cast<double>(anchor);
            const double phase = 2.0 * std::numbers::pi * (cycles - std::floor(cycles));
            const double re = sine->amplitude * std::cos(phase), im = sine->amplitude * std::sin(phase);
            const std::uint32_t from = static_cast<std::uint32_t>(n - anchor);
            const std::uint32_t count = std::min<std::uint32_t>(frames - i, static_cast<std::uint32_t>(kAnchorFrames) - from);
            for (std::uint32_t k = 0; k < count; ++k)
                out[i + k] = static_cast<float>(im * turnCos[from + k] + re * turnSin[from + k]);
            i += count;
        }
    } else if (const auto* impulse = std::get_if<Impulse>(&signal_)) {
        for (std::uint32_t i = 0; i < frames; ++i) {
            const std::uint64_t n = firstFrame + i;
            bool hit = false;
            if (n >= impulse->firstFrame) {
                const std::uint64_t since = n - impulse->firstFrame;
                hit = impulse->intervalFrames ? since % impulse->intervalFrames == 0 : since == 0;
            }
            out[i] = hit ? static_cast<float>(impulse->amplitude) : 0.0f;
        }
    } else if (const auto* noise = std::get_if<Noise>(&signal_)) {
        for (std::uint32_t i = 0; i < frames; ++i)
            out[i] = static_cast<float>(noise->amplitude * noiseAt(noise->seed, firstFrame + i));
    } else if (!wav_.empty()) {
        const std::size_t length = wav_.size();
        std::size_t pos = static_cast<std::size_t>(firstFrame % length);
        for (std::uint32_t i = 0; i < frames; ++i) {
            out[i] = wav_[pos];
            if (++pos == length)
                pos = 0;
        }
    } else {
        for (std::uint32_t i = 0; i < frames; ++i)
            out[i] = 0.0f;
    }
}

} // namespace corvane::hw::virt
