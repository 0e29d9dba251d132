// Benchmarks need the Qt event loop for the engine's start-up, like the tests,
// and a GUI application for the window.
#include "plugins/PluginCatalog.h"
#include "ui/RendererChoice.h"

#include <QGuiApplication>
#include <benchmark/benchmark.h>

#include <chrono>

int main(int argc, char** argv) {
    // A GUI application for the window's benchmark; offscreen without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")
        && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    corvane::prepareDisplayConnection(); // as the program does
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // Every engine manager starts the plug-in scan, which takes seconds of CPU
    // on a pool thread: finished first, it cannot compete with the first cases.
    corvane::PluginCatalog::startScan();
    corvane::PluginCatalog::waitForComponents(std::chrono::minutes(2));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
