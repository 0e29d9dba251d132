// What the main window costs while nothing plays: the process's CPU time over
// a stretch of its event loop with the window open and the engine stopped, as
// a share of one core (cpu_percent). It measures whatever the window shows:
// meters that repaint, timers that poll, the device list's watchers. Runs on
// the display Qt finds, offscreen without one (BenchMain).
#include "platform/hardware/AudioHardware.h"
#include "platform/hardware/virtual/VirtualBackend.h"
#include "plugins/PluginCatalog.h"
#include "setup/SetupKeeper.h"
#include "ui/CorvaneApp.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include <unistd.h>

using namespace corvane;

namespace {

double processSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double mainThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double wallSeconds() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// Each thread's run time so far in nanoseconds, by id, with its name: the
// scheduler's own count, finer than the ticks of /proc's stat.
struct ThreadTime {
    std::string name;
    double ns = 0;
    double runs = 0; // times it was put on a processor
    bool realtime = false; // an audio thread
};
std::map<std::string, ThreadTime> threadTimes() {
    std::map<std::string, ThreadTime> times;
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
        ThreadTime t;
        std::ifstream(task.path() / "comm") >> t.name;
        double waited = 0;
        std::ifstream(task.path() / "schedstat") >> t.ns >> waited >> t.runs;
        std::string stat;
        std::getline(std::ifstream(task.path() / "stat"), stat);
        std::istringstream fields(stat.substr(stat.rfind(')') + 2)); // from the state, the third field
        std::string field;
        for (int i = 3; i <= 41 && fields >> field; ++i) // the 41st is the scheduling policy
            if (i == 41)
                t.realtime = field != "0";
        times[task.path().filename().string()] = t;
    }
    return times;
}

// With CORVANE_BENCH_THREADS set, which threads the process's time went to
// over a measured stretch, as shares of one core on stderr, and how often
// each woke: the window's cost apart from the audio and tap threads it shares
// the process with. The playing cases also count the window's items.
void printThreadShares(const std::map<std::string, ThreadTime>& before, double wall) {
    const std::string main = std::to_string(getpid());
    for (const auto& [id, t] : threadTimes()) {
        const auto old = before.find(id);
        const bool seen = old != before.end();
        const double ns = t.ns - (seen ? old->second.ns : 0.0), runs = t.runs - (seen ? old->second.runs : 0.0);
        if (ns > 0)
            std::fprintf(stderr, "thread %-8s %-16s %-9s %6.3f %% %7.1f runs/s\n", id == main ? "main" : id.c_str(),
                         t.name.c_str(), t.realtime ? "real-time" : "", 100.0 * ns * 1e-9 / wall, runs / wall);
    }
}

// The window's shown items and those of them that draw something (each is at
// least one node the software renderer walks on every frame).
void countItems(const QQuickItem* item, int& shown, int& drawing) {
    if (!item->isVisible())
        return;
    ++shown;
    drawing += (item->flags() & QQuickItem::ItemHasContents) ? 1 : 0;
    for (const QQuickItem* child : item->childItems())
        countItems(child, shown, drawing);
}

void runEventLoop(std::chrono::milliseconds span) {
    QEventLoop loop;
    QTimer::singleShot(span, &loop, &QEventLoop::quit);
    loop.exec();
}

// The process's CPU time over wall time while its event loop runs for `span`
// once per benchmark iteration, as a percentage of one core; the main
// thread's share of it (where the window is drawn) in `mainCpu`.
double cpuPercentOver(benchmark::State& state, std::chrono::milliseconds span, double* mainCpu = nullptr) {
    double cpu = 0, wall = 0, main = 0;
    const bool perThread = std::getenv("CORVANE_BENCH_THREADS") != nullptr;
    const auto threads0 = perThread ? threadTimes() : std::map<std::string, ThreadTime>();
    for (auto _ : state) {
        const double cpu0 = processSeconds(), main0 = mainThreadSeconds(), wall0 = wallSeconds();
        runEventLoop(span);
        cpu += processSeconds() - cpu0;
        main += mainThreadSeconds() - main0;
        wall += wallSeconds() - wall0;
    }
    if (mainCpu)
        *mainCpu = main;
    if (perThread) {
        std::fprintf(stderr, "threads over %.1f s:\n", wall);
        printThreadShares(threads0, wall);
    }
    return wall > 0 ? 100.0 * cpu / wall : 0.0;
}

// A GUI application, and the plug-in scan that every start of the program
// begins already over: it runs on a pool thread and would count as the
// window's cost here.
bool readyToMeasure(benchmark::State& state) {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        state.SkipWithError("needs a GUI application");
        return false;
    }
    PluginCatalog::startScan();
    if (!PluginCatalog::waitForComponents(std::chrono::seconds(120))) {
        state.SkipWithError("the plug-in scan did not finish");
        return false;
    }
    return true;
}

// The application as the program builds it, on the default hardware, with
// its settings (the window stores its zoom) in a scratch folder, never the user's.
struct BenchApp {
    QTemporaryDir settings;
    std::unique_ptr<hw::AudioHardware> hardware;
    std::unique_ptr<CorvaneApp> app;
    BenchApp() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
        hardware = hw::createDefaultHardware();
        app = std::make_unique<CorvaneApp>(*hardware);
    }
};

void BM_StoppedWindowIdle(benchmark::State& state) {
    if (!readyToMeasure(state))
        return;
    BenchApp bench;
    QQuickWindow* window = bench.app->openWindow();
    if (!window) {
        state.SkipWithError("the window did not load");
        return;
    }
    // First frames, the device list, the first load readings, and the setup
    // remembered a moment after the launch chose its device (once the device
    // list is whole): a write to disk once per launch, not what the idle
    // window costs.
    for (int waited = 0; !QFileInfo::exists(SetupKeeper::lastSetupPath()) && waited < 100; ++waited)
        runEventLoop(std::chrono::milliseconds(100));
    runEventLoop(std::chrono::milliseconds(500));
    int frames = 0;
    QObject::connect(window, &QQuickWindow::frameSwapped, window, [&frames] { ++frames; });
    const double wall0 = wallSeconds();
    state.counters["cpu_percent"] = cpuPercentOver(state, std::chrono::milliseconds(state.range(0)));
    // Frames drawn per second: an idle window that keeps repainting shows here.
    state.counters["frames_per_s"] = frames / (wallSeconds() - wall0);
    window->close();
}

// Playing: eight strips routed one to one on the default device (the virtual
// one, paced in real time, on a machine without audio hardware), metered,
// with the window open (first range 1) and without it (0). The difference
// between the two cpu_percent figures is what the window adds to playing.
// Second range 0: the virtual device's steady tones, whose meters settle and
// then hold still; 1: slow sines (1.5 to 3.25 Hz) at every input, whose levels
// swing at every reading like music's, so every meter glides all the time.
void BM_RunningEightStrips(benchmark::State& state) {
    if (!readyToMeasure(state))
        return;
    BenchApp bench;
    AudioEngineManager& manager = bench.app->engineManager();
    QQuickWindow* window = state.range(0) ? bench.app->openWindow() : nullptr;
    if (state.range(0) && !window) {
        state.SkipWithError("the window did not load");
        return;
    }
    if (state.range(1)) {
        auto* virtualDevices = bench.hardware->backend<hw::VirtualBackend>();
        for (std::uint32_t c = 0; virtualDevices && c < AudioEngineManager::kChannelCount; ++c)
            virtualDevices->setInputSignal(hw::VirtualBackend::kDefaultUid, c,
                                           hw::VirtualBackend::Sine{1.5 + 0.25 * c, 0.9});
    }
    manager.refreshDeviceList();
    runEventLoop(std::chrono::seconds(1));
    for (int i = 0; i < AudioEngineManager::kChannelCount; ++i) {
        manager.channels()[i]->setInputChannelIndex(i);
        manager.channels()[i]->setOutputChannelIndex(i);
    }
    manager.start();
    for (int waited = 0; !manager.isRunning() && waited < 50; ++waited)
        runEventLoop(std::chrono::milliseconds(100));
    if (!manager.isRunning()) {
        state.SkipWithError("the engine did not start");
        return;
    }
    runEventLoop(std::chrono::seconds(1));
    int frames = 0;
    if (window)
        QObject::connect(window, &QQuickWindow::frameSwapped, window, [&frames] { ++frames; });
    const double wall0 = wallSeconds();
    double mainCpu = 0;
    state.counters["cpu_percent"] = cpuPercentOver(state, std::chrono::milliseconds(2000), &mainCpu);
    const double wall = wallSeconds() - wall0;
    state.counters["frames_per_s"] = frames / wall;
    // The main thread alone, and its CPU time per frame drawn: what the
    // window's scene costs, apart from the audio threads.
    state.counters["main_cpu_percent"] = 100.0 * mainCpu / wall;
    if (frames)
        state.counters["main_ms_per_frame"] = 1000.0 * mainCpu / frames;
    if (window && std::getenv("CORVANE_BENCH_THREADS")) {
        int shown = 0, drawing = 0;
        countItems(window->contentItem(), shown, drawing);
        std::fprintf(stderr, "items shown %d, drawing %d\n", shown, drawing);
    }
    manager.stop();
    if (window)
        window->close();
}

} // namespace

BENCHMARK(BM_StoppedWindowIdle)->Arg(2000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
// After the idle case: a window that played before would still be settling.
BENCHMARK(BM_RunningEightStrips)
    ->ArgNames({"window", "swinging"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
