// What hosting costs: one stereo strip running mda Delay through the whole
// render path, against the same plug-in's processing called directly on the
// same kind of buffers. overhead_ratio = hosted time / direct time, both
// measured in this process; host_share = (hosted - direct) time over the
// period's length, the part of each period's deadline the host itself uses.
#include "bench/PrecomputedInputs.h"
#include "platform/hardware/virtual/VirtualBackend.h"
#include "platform/lv2/Lv2Effect.h"
#include "tests/support/ManagerRig.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <vector>

using namespace corvane;

namespace {

constexpr const char* kDelayUri = "http://drobilla.net/plugins/mda/Delay";
constexpr std::uint32_t kFrames = 64;
constexpr double kRate = 48000.0;

struct DirectDelay {
    std::unique_ptr<lv2::Lv2Effect> effect;
    std::vector<float> inL, inR, outL, outR;
    const float* in[2];
    float* out[2];

    DirectDelay() : inL(kFrames), inR(kFrames), outL(kFrames), outR(kFrames) {
        std::string error;
        effect = lv2::Lv2Effect::instantiate(kDelayUri, kRate, kFrames, error);
        if (effect && !effect->prepare(kRate, kFrames, 2, 2, error))
            effect.reset();
        for (std::uint32_t i = 0; i < kFrames; ++i) {
            inL[i] = float(std::sin(0.05 * i));
            inR[i] = float(std::cos(0.03 * i));
        }
        in[0] = inL.data();
        in[1] = inR.data();
        out[0] = outL.data();
        out[1] = outR.data();
    }
    void run() { effect->process(in, out, kFrames); }
};

// Seconds one direct call takes, measured once per process.
double directSecondsPerCall() {
    static const double seconds = [] {
        DirectDelay direct;
        if (!direct.effect)
            return 0.0;
        for (int i = 0; i < 2000; ++i)
            direct.run();
        const int calls = 50000;
        const auto began = std::chrono::steady_clock::now();
        for (int i = 0; i < calls; ++i)
            direct.run();
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count() / calls;
    }();
    return seconds;
}

void direct(benchmark::State& state) {
    DirectDelay d;
    if (!d.effect) {
        state.SkipWithError("mda Delay is not installed");
        return;
    }
    for (auto _ : state) {
        d.run();
        benchmark::DoNotOptimize(d.outL.data());
    }
}

// The stereo strip on device inputs 0-1, which play precomputed tones; the
// other six are silent, so the period's cost is the routing and the plug-in,
// not the virtual device's sine generators.
void hosted(benchmark::State& state) {
    auto backend = std::make_unique<hw::VirtualBackend>();
    auto* device = backend.get();
    const std::string uid = hw::VirtualBackend::kDefaultUid;
    device->setClockMode(uid, hw::VirtualBackend::ClockMode::Manual);
    if (!bench::precomputeInputs(*device, uid, 8, 2)) {
        state.SkipWithError("the precomputed inputs could not be set");
        return;
    }
    std::vector<std::unique_ptr<hw::Backend>> list;
    list.push_back(std::move(backend));
    test::ManagerRig rig(std::move(list));
    rig.refresh();
    rig.manager->setSampleRate(kRate);
    rig.manager->setBufferFrames(kFrames);
    rig.route(0, 0, true, 0, true);
    rig.strip(0).setComponent(PluginComponent{kDelayUri, "MDA Delay", "David Robillard", false});
    rig.start();
    if (!rig.manager->isRunning() || !rig.strip(0).effectNode()) {
        state.SkipWithError("the strip with mda Delay did not start");
        return;
    }
    const double directSeconds = directSecondsPerCall();
    const auto began = std::chrono::steady_clock::now();
    for (auto _ : state)
        device->runPeriods(uid, 1);
    const double hostedSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count() / double(state.iterations());
    if (directSeconds > 0) {
        state.counters["overhead_ratio"] = hostedSeconds / directSeconds;
        state.counters["host_share"] = (hostedSeconds - directSeconds) / (double(kFrames) / kRate);
    }
    rig.manager->stop();
}

} // namespace

BENCHMARK(hosted)->Name("plugin/hosted/64");
BENCHMARK(direct)->Name("plugin/direct/64");
