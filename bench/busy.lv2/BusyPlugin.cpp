// A plug-in only the benchmarks load: mono pass-through that spends as much
// CPU time in each run() as its `cost` control says, in microseconds, a heavy
// plug-in of a known weight for measuring how strips share the cores.
#include "FixturePlugin.h"

#include <time.h>

namespace {

struct Busy : fixture::Ports<3> {};

double threadMicroseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) * 1e-3;
}

void run(LV2_Handle h, std::uint32_t frames) {
    auto* self = static_cast<Busy*>(h);
    const double until = threadMicroseconds() + static_cast<double>(*self->at(2));
    while (threadMicroseconds() < until) {
    }
    self->pass(frames);
}

} // namespace

CORVANE_FIXTURE_DESCRIPTORS(LV2_Descriptor{"urn:corvane:bench:busy", fixture::create<Busy>, fixture::connect<Busy>,
                                           nullptr, run, nullptr, fixture::destroy<Busy>, fixture::noExtensions})
