// Cost of one period of the whole render path (device I/O, splitters, combiner,
// taps) on the virtual device in manual mode, and of metering one tap buffer.
// deadline_ratio is the time one period takes over the period's own length.
#include "bench/PrecomputedInputs.h"
#include "engine/LevelMeter.h"
#include "platform/hardware/virtual/VirtualBackend.h"
#include "tests/support/ManagerRig.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <vector>

using namespace corvane;

namespace {

struct RenderRig {
    hw::VirtualBackend* device = nullptr;
    std::unique_ptr<test::ManagerRig> rig;
    std::string uid;
    bool inputsReady = false;

    // Every input is silent: the virtual device then only clears its input
    // buffers, and the render path does the same work on silence as on music.
    RenderRig(std::uint32_t deviceChannels, bool stereo, std::uint32_t frames) {
        auto backend = std::make_unique<hw::VirtualBackend>();
        device = backend.get();
        uid = hw::VirtualBackend::kDefaultUid;
        if (deviceChannels != 8) {
            uid = "virtual:bench";
            device->addDevice({uid, "Bench Device", deviceChannels, deviceChannels});
        }
        device->setClockMode(uid, hw::VirtualBackend::ClockMode::Manual);
        inputsReady = bench::precomputeInputs(*device, uid, deviceChannels, 0);
        std::vector<std::unique_ptr<hw::Backend>> list;
        list.push_back(std::move(backend));
        rig = std::make_unique<test::ManagerRig>(std::move(list));
        rig->refresh();
        auto& m = *rig->manager;
        for (const auto& d : m.devices())
            if (d.uid == QString::fromStdString(uid))
                m.selectDevice(d);
        m.setSampleRate(48000);
        m.setBufferFrames(frames);
        for (int s = 0; s < 8; ++s) {
            const int channel = stereo ? 2 * (s % 4) : s;
            rig->route(s, channel, stereo, channel, stereo);
        }
        rig->start();
    }
};

void renderCase(benchmark::State& state, std::uint32_t deviceChannels, bool stereo) {
    const auto frames = std::uint32_t(state.range(0));
    RenderRig r(deviceChannels, stereo, frames);
    if (!r.inputsReady || !r.rig->manager->isRunning()) {
        state.SkipWithError(r.inputsReady ? "the engine did not start" : "the precomputed inputs could not be set");
        return;
    }
    const auto began = std::chrono::steady_clock::now();
    for (auto _ : state)
        r.device->runPeriods(r.uid, 1);
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - began;
    const double period = double(frames) / 48000.0;
    state.counters["deadline_ratio"] = wall.count() / (double(state.iterations()) * period);
    r.rig->manager->stop();
}

// Eight stereo strips on the 8-channel device, two strips per input pair, all
// inputs silent (no signal generation in the period).
void stereo8(benchmark::State& state) { renderCase(state, 8, true); }
// Eight mono strips on a 64-channel device, all 64 inputs silent (no signal
// generation in the period).
void mono8on64(benchmark::State& state) { renderCase(state, 64, false); }

void measure(benchmark::State& state) {
    std::vector<float> left(2048), right(2048);
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] = float(std::sin(0.01 * double(i)));
        right[i] = float(std::cos(0.02 * double(i)));
    }
    const float* channels[2] = {left.data(), right.data()};
    for (auto _ : state)
        benchmark::DoNotOptimize(measureLevels(channels, 2, 2048));
}

} // namespace

BENCHMARK(stereo8)->Name("render/stereo8")->Arg(32)->Arg(64)->Arg(256);
BENCHMARK(mono8on64)->Name("render/mono8_64ch")->Arg(64);
BENCHMARK(measure)->Name("meter/measure/2048");
