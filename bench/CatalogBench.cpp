// A launch with the installed plug-ins unchanged since the last run: the
// catalog comes from the file kept on disk and every bundle is only looked at
// (its entries' sizes and times), none read. Covers what --list-plugins and
// the window wait for. plugins = effects listed, bundles = bundles looked at.
#include "platform/lv2/SearchPath.h"
#include "plugins/InstalledBundles.h"
#include "plugins/PluginCatalog.h"

#include <benchmark/benchmark.h>

#include <chrono>

using namespace corvane;

namespace {

void relaunch(benchmark::State& state) {
    // main() scanned once already, which left the catalog on disk current.
    qsizetype listed = 0;
    for (auto _ : state) {
        PluginCatalog::invalidate();
        const auto list = PluginCatalog::waitForComponents(std::chrono::minutes(2));
        if (!list) {
            state.SkipWithError("the catalog did not arrive");
            return;
        }
        listed = list->size();
    }
    state.counters["plugins"] = double(listed);
    state.counters["bundles"] = double(installedBundles(lv2::searchDirectories()).size());
}

} // namespace

BENCHMARK(relaunch)->Name("catalog/relaunch")->Unit(benchmark::kMillisecond)->UseRealTime();
