#pragma once
// An AudioEngineManager on a manual clock over a hardware layer made of the
// given backends, plus helpers to run its flows to completion.

#include "engine/AudioEngineManager.h"
#include "tests/support/ManualTime.h"

#include <memory>
#include <vector>

namespace corvane::test {

struct ManagerRig {
    ManualClock clock;
    std::unique_ptr<hw::AudioHardware> hardware;
    std::unique_ptr<AudioEngineManager> manager;

    explicit ManagerRig(std::vector<std::unique_ptr<hw::Backend>> backends);
    ~ManagerRig();

    // Spawns `flow` and runs until it has finished; false if it never does.
    bool run(Async<void> flow);
    bool refresh() { return run(manager->refreshDevices()); }
    bool start() { return run(manager->start(false)); }
    // Lets everything pending settle without moving the clock.
    void settle();

    ChannelSlot& strip(int id) { return *manager->channels()[id]; }
    void route(int id, std::optional<int> in, bool inStereo, std::optional<int> out, bool outStereo);
};

} // namespace corvane::test
