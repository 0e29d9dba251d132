// What the virtual device's I/O thread spends making one period of its input
// signals: the default sines of eight channels, periods following each other.
#include "platform/hardware/virtual/SignalSource.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using corvane::hw::virt::SignalSource;

void BM_VirtualSinesPeriod(benchmark::State& state) {
    constexpr std::uint32_t channels = 8;
    const auto frames = static_cast<std::uint32_t>(state.range(0));
    std::vector<std::shared_ptr<const SignalSource>> sources;
    std::string error;
    for (std::uint32_t c = 0; c < channels; ++c)
        sources.push_back(SignalSource::make(SignalSource::defaultSignal(c), c, error));
    std::vector<float> out(frames);
    std::uint64_t frame = 0;
    for (auto _ : state) {
        for (const auto& source : sources) {
            source->render(frame, 48000.0, out.data(), frames);
            benchmark::DoNotOptimize(out.data());
        }
        frame += frames;
    }
}

} // namespace

BENCHMARK(BM_VirtualSinesPeriod)->Name("virtual/sines/8ch")->Arg(100)->Arg(256);
