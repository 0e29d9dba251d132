// Benchmarks need the Qt event loop for the engine's start-up, like the tests.
#include "plugins/PluginCatalog.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>

#include <chrono>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
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
