// What running a plug-in in a host process of its own costs: one stereo strip
// of mda Delay, periods of 64 frames paced as a device paces them (a period
// every 1.33 ms), the plug-in called in this thread against the same plug-in
// handed to its host and back. CPU is counted on every thread that works for
// the strip, the host's included. The two ways take turns in short blocks, so
// that the other work on a shared machine weighs on both alike: each figure is
// the median over the blocks; added_cpu_us is the median of what each isolated
// block cost over the in-process block just before it, and
// added_switches_per_period the context switches (this thread and the host)
// each isolated period adds, where most of isolation's cost goes.
#include "platform/lv2/IsolatedEffect.h"
#include "platform/lv2/Lv2Effect.h"
#include "platform/lv2/SearchPath.h"
#include "platform/lv2/World.h"
#include "platform/system/Futex.h"

#include <benchmark/benchmark.h>

#include <pthread.h>
#include <sched.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

using namespace corvane;

namespace {

constexpr const char* kDelayUri = "http://drobilla.net/plugins/mda/Delay";
constexpr const char* kBusyUri = "urn:corvane:bench:busy";
constexpr std::uint32_t kFrames = 64;
constexpr double kRate = 48000.0;
constexpr long kPeriodNs = static_cast<long>(1e9 * kFrames / kRate);
constexpr int kBlockPeriods = 100;
constexpr int kBlocks = 30;

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

// Context switches of every thread of process `pid` (0: this thread), as
// the scheduler counts them.
double contextSwitches(int pid) {
    const std::string tasks = pid > 0 ? "/proc/" + std::to_string(pid) + "/task" : std::string();
    std::vector<std::filesystem::path> statuses;
    std::error_code error;
    if (pid > 0) {
        for (const auto& task : std::filesystem::directory_iterator(tasks, error))
            statuses.push_back(task.path() / "status");
    } else {
        statuses.emplace_back("/proc/thread-self/status");
    }
    double count = 0.0;
    for (const auto& path : statuses) {
        std::ifstream status(path);
        std::string line;
        while (std::getline(status, line))
            if (line.find("ctxt_switches:") != std::string::npos)
                count += std::stod(line.substr(line.find(':') + 1));
    }
    return count;
}

struct Block {
    double own = 0.0;      // this thread, microseconds per period
    double helper = 0.0;   // the helper process
    double switches = 0.0; // of both, per period
};

// Sleeps until one period after `next`, which becomes that time.
void sleepUntilNextPeriod(timespec& next) {
    next.tv_nsec += kPeriodNs;
    if (next.tv_nsec >= 1'000'000'000) {
        next.tv_nsec -= 1'000'000'000;
        ++next.tv_sec;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
}

// Runs `period` kBlockPeriods times at the device's pace, continuing the pace
// of `next`; what it cost this thread and the process `helper` (-1: none).
// The helper is read outside this thread's window: reading /proc is no part
// of a period.
template <typename Period>
Block pacedBlock(Period&& period, int helper, timespec& next) {
    const double helperBefore = helper > 0 ? processCpuSeconds(helper) : 0.0;
    const double switchesBefore = contextSwitches(0) + (helper > 0 ? contextSwitches(helper) : 0.0);
    const double ownBefore = threadCpuSeconds();
    for (int i = 0; i < kBlockPeriods; ++i) {
        sleepUntilNextPeriod(next);
        period();
    }
    const double own = threadCpuSeconds() - ownBefore;
    const double switches = contextSwitches(0) + (helper > 0 ? contextSwitches(helper) : 0.0) - switchesBefore;
    const double helperSeconds = helper > 0 ? processCpuSeconds(helper) - helperBefore : 0.0;
    return {own * 1e6 / kBlockPeriods, helperSeconds * 1e6 / kBlockPeriods, switches / kBlockPeriods};
}

// This thread runs SCHED_FIFO until leave(), as a device's audio thread does
// (where that is allowed): where the hosts run is decided around that thread.
// It leaves before the hosts end: reaping a process at real-time priority was
// seen to spin in the kernel for minutes here.
class AsAudioThread {
public:
    static constexpr int kPriority = 10;
    AsAudioThread() {
        sched_param param{};
        param.sched_priority = kPriority;
        realtime_ = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
    }
    ~AsAudioThread() { leave(); }
    void leave() {
        sched_param param{};
        pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
    }
    AsAudioThread(const AsAudioThread&) = delete;
    AsAudioThread& operator=(const AsAudioThread&) = delete;
    // The hosts' priority: the audio thread's, as Corvane gives them.
    int hostPriority() const { return realtime_ ? kPriority : 0; }

private:
    bool realtime_ = false;
};

double median(std::vector<double> values) {
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2), values.end());
    return values[values.size() / 2];
}

void overhead(benchmark::State& state) {
    AsAudioThread audioThread;
    std::string error;
    auto here = lv2::Lv2Effect::instantiate(kDelayUri, kRate, kFrames, error);
    lv2::IsolatedEffect::Options options;
    options.hostProgram = CORVANE_PLUGIN_HOST;
    options.realtimePriority = audioThread.hostPriority();
    auto there = lv2::IsolatedEffect::instantiate(kDelayUri, kRate, kFrames, kFrames, options, error);
    if (!here || !there || !here->prepare(kRate, kFrames, 2, 2, error) || !there->prepare(kRate, kFrames, 2, 2, error)) {
        audioThread.leave();
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
    std::vector<double> inProcess, isolated, host, added, switches;
    for (auto _ : state) {
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        for (int block = 0; block < kBlocks; ++block) {
            const Block local = pacedBlock([&] { here->process(in, out, kFrames); }, -1, next);
            const Block hosted = pacedBlock([&] { there->process(in, out, kFrames); }, there->hostPid(), next);
            there->checkHealth(std::chrono::steady_clock::now()); // as the engine does now and then
            inProcess.push_back(local.own);
            isolated.push_back(hosted.own + hosted.helper);
            host.push_back(hosted.helper);
            added.push_back(hosted.own + hosted.helper - local.own);
            switches.push_back(hosted.switches - local.switches);
        }
        benchmark::DoNotOptimize(outL.data());
    }
    state.counters["in_process_cpu_us"] = median(inProcess);
    state.counters["cpu_us"] = median(isolated);
    state.counters["host_cpu_us"] = median(host);
    state.counters["added_cpu_us"] = median(added);
    state.counters["added_switches_per_period"] = median(switches);
    state.counters["late_periods"] = static_cast<double>(there->latePeriods());
    audioThread.leave();
}


// Eight mono strips of a plug-in that spends a tenth of a 64-frame period of
// CPU (133 us) in each run: in process the audio thread runs them one after
// another; isolated it wakes all eight hosts at once and then collects them
// (waiting until 0.7 of the period, as the renderer does), so that they share
// the cores. period_us is the median time from the first strip's start to the
// last one's end; ratio what isolated takes of the in-process time.
void allCores(benchmark::State& state) {
    constexpr int kStrips = 8;
    constexpr float kCostUs = 1e6f * kFrames / static_cast<float>(kRate) / 10.0f;
    static const bool found = [] {
        // Beside everything else: the cases after this one see the plug-ins they saw before.
        const std::string paths = std::string(CORVANE_BENCH_LV2_DIR) + ":" + lv2::searchPathString().toStdString();
        setenv("LV2_PATH", paths.c_str(), 1); // also for the hosts, which read it when they start
        const auto lock = lv2::World::lock();
        return lv2::World::reload(lock) != nullptr;
    }();
    AsAudioThread audioThread;
    std::vector<std::unique_ptr<lv2::Lv2Effect>> here;
    std::vector<std::unique_ptr<lv2::IsolatedEffect>> there;
    lv2::IsolatedEffect::Options options;
    options.hostProgram = CORVANE_PLUGIN_HOST;
    options.realtimePriority = audioThread.hostPriority();
    std::string error;
    for (int i = 0; found && i < kStrips; ++i) {
        auto local = lv2::Lv2Effect::instantiate(kBusyUri, kRate, kFrames, error);
        auto hosted = lv2::IsolatedEffect::instantiate(kBusyUri, kRate, kFrames, kFrames, options, error);
        if (!local || !hosted || !local->prepare(kRate, kFrames, 1, 1, error)
            || !hosted->prepare(kRate, kFrames, 1, 1, error))
            break;
        local->setParameter(2, kCostUs);
        hosted->setParameter(2, kCostUs);
        here.push_back(std::move(local));
        there.push_back(std::move(hosted));
    }
    if (there.size() != kStrips) {
        audioThread.leave();
        state.SkipWithError(("the benchmark's busy plug-in cannot run here: " + error).c_str());
        return;
    }
    std::vector<float> inL(kFrames, 0.25f), outL(kFrames);
    const float* in[1] = {inL.data()};
    float* out[1] = {outL.data()};
    auto now = [] {
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) * 1e-3;
    };
    std::vector<double> inProcess, isolated;
    for (auto _ : state) {
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        for (int block = 0; block < 2 * kBlocks; ++block) {
            for (int i = 0; i < kBlockPeriods; ++i) {
                sleepUntilNextPeriod(next);
                const double start = now();
                if (block % 2 == 0) {
                    for (auto& effect : here)
                        effect->process(in, out, kFrames);
                    inProcess.push_back(now() - start);
                } else {
                    const timespec deadline = monotonicAfter(static_cast<std::int64_t>(0.7 * kPeriodNs));
                    for (auto& effect : there)
                        effect->begin(in, kFrames);
                    for (auto& effect : there)
                        effect->finish(out, deadline);
                    isolated.push_back(now() - start);
                }
            }
            for (auto& effect : there)
                effect->checkHealth(std::chrono::steady_clock::now()); // as the engine does now and then
        }
        benchmark::DoNotOptimize(outL.data());
    }
    std::uint64_t late = 0;
    for (auto& effect : there)
        late += effect->latePeriods();
    state.counters["in_process_period_us"] = median(inProcess);
    state.counters["isolated_period_us"] = median(isolated);
    state.counters["ratio"] = median(isolated) / median(inProcess);
    state.counters["late_periods"] = static_cast<double>(late);
    audioThread.leave();
}
} // namespace

BENCHMARK(overhead)->Name("isolation/overhead/64")->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(allCores)->Name("isolation/all-cores/64")->Iterations(1)->Unit(benchmark::kMillisecond);
