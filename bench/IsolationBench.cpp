// What running a plug-in in a host process of its own costs: one stereo strip
// of mda Delay, periods of 64 frames paced as a device paces them (a period
// every 1.33 ms), the plug-in called in this thread against the same plug-in
// handed to its host and back. CPU is counted on every thread that works for
// the strip, the host's included: cpu_us is per period, added_cpu_us what
// isolation adds to the in-process figure (measured in the same run).
#include "platform/lv2/IsolatedEffect.h"
#include "platform/lv2/Lv2Effect.h"

#include <benchmark/benchmark.h>

#include <time.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace corvane;

namespace {

constexpr const char* kDelayUri = "http://drobilla.net/plugins/mda/Delay";
constexpr std::uint32_t kFrames = 64;
constexpr double kRate = 48000.0;
constexpr long kPeriodNs = static_cast<long>(1e9 * kFrames / kRate);
constexpr int kPeriods = 3000;

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Every thread of process `pid`, from the scheduler's own account.
double processCpuSeconds(int pid) {
    double seconds = 0.0;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream stat(task.path() / "schedstat");
        double ns = 0.0;
        if (stat >> ns)
            seconds += ns * 1e-9;
    }
    return seconds;
}

struct Cpu {
    double own = 0.0;    // this thread, microseconds per period
    double helper = 0.0; // the helper process
};

// Runs `period` kPeriods times at the device's pace; CPU per period of this
// thread and of the process `helper` (-1: none).
template <typename Period>
Cpu pacedCpu(Period&& period, int helper) {
    const double ownBefore = threadCpuSeconds();
    const double helperBefore = helper > 0 ? processCpuSeconds(helper) : 0.0;
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (int i = 0; i < kPeriods; ++i) {
        next.tv_nsec += kPeriodNs;
        if (next.tv_nsec >= 1'000'000'000) {
            next.tv_nsec -= 1'000'000'000;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        period();
    }
    const double helperSeconds = helper > 0 ? processCpuSeconds(helper) - helperBefore : 0.0;
    return {(threadCpuSeconds() - ownBefore) * 1e6 / kPeriods, helperSeconds * 1e6 / kPeriods};
}

void overhead(benchmark::State& state) {
    std::string error;
    auto here = lv2::Lv2Effect::instantiate(kDelayUri, kRate, kFrames, error);
    lv2::IsolatedEffect::Options options;
    options.hostProgram = CORVANE_PLUGIN_HOST;
    auto there = lv2::IsolatedEffect::instantiate(kDelayUri, kRate, kFrames, kFrames, options, error);
    if (!here || !there || !here->prepare(kRate, kFrames, 2, 2, error) || !there->prepare(kRate, kFrames, 2, 2, error)) {
        state.SkipWithError(("mda Delay cannot run here: " + error).c_str());
        return;
    }
    std::vector<float> inL(kFrames), inR(kFrames), outL(kFrames), outR(kFrames);
    for (std::uint32_t i = 0; i < kFrames; ++i) {
        inL[i] = static_cast<float>(std::sin(0.05 * i));
        inR[i] = static_cast<float>(std::cos(0.03 * i));
    }
    const float* in[2] = {inL.data(), inR.data()};
    float* out[2] = {outL.data(), outR.data()};
    Cpu inProcess, isolated;
    for (auto _ : state) {
        inProcess = pacedCpu([&] { here->process(in, out, kFrames); }, -1);
        isolated = pacedCpu([&] { there->process(in, out, kFrames); }, there->hostPid());
        benchmark::DoNotOptimize(outL.data());
    }
    state.counters["in_process_cpu_us"] = inProcess.own;
    state.counters["cpu_us"] = isolated.own + isolated.helper;
    state.counters["host_cpu_us"] = isolated.helper;
    state.counters["added_cpu_us"] = isolated.own + isolated.helper - inProcess.own;
    state.counters["late_periods"] = static_cast<double>(there->latePeriods());
}

} // namespace

BENCHMARK(overhead)->Name("isolation/overhead/64")->Iterations(1)->Unit(benchmark::kMillisecond);
