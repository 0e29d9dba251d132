// What the ALSA backend's I/O thread spends converting one period: 8 channels
// of device frames in to float, and 8 float channels out to device frames.
#include "platform/hardware/alsa/SampleFormat.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

using corvane::hw::alsa::SampleFormat;

template <SampleFormat format>
void convertPeriod(benchmark::State& state) {
    constexpr std::uint32_t channels = 8;
    const auto frames = static_cast<std::uint32_t>(state.range(0));
    std::vector<std::vector<float>> in(channels, std::vector<float>(frames)), out(channels, std::vector<float>(frames));
    std::vector<float*> inPointers, outPointers;
    for (std::uint32_t c = 0; c < channels; ++c) {
        for (std::uint32_t f = 0; f < frames; ++f)
            out[c][f] = 0.5f * float(std::sin(0.01 * double(f + 7 * c)));
        inPointers.push_back(in[c].data());
        outPointers.push_back(out[c].data());
    }
    const std::size_t bytes = std::size_t(frames) * channels * corvane::hw::alsa::bytesPerSample(format);
    std::vector<std::uint8_t> captured(bytes), played(bytes);
    corvane::hw::alsa::interleave(format, outPointers.data(), channels, frames, 0, captured.data());
    for (auto _ : state) {
        corvane::hw::alsa::deinterleave(format, captured.data(), channels, frames, inPointers.data(), 0);
        corvane::hw::alsa::interleave(format, outPointers.data(), channels, frames, 0, played.data());
        benchmark::DoNotOptimize(in[0].data());
        benchmark::DoNotOptimize(played.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * std::int64_t(frames) * channels * 2);
}

} // namespace

BENCHMARK(convertPeriod<SampleFormat::S24_3LE>)->Name("alsa/convert/s24_3le")->Arg(64);
BENCHMARK(convertPeriod<SampleFormat::S32>)->Name("alsa/convert/s32")->Arg(64);
