#include "tests/support/ManagerRig.h"

namespace corvane::test {

ManagerRig::ManagerRig(std::vector<std::unique_ptr<hw::Backend>> backends)
    : hardware(std::make_unique<hw::AudioHardware>(std::move(backends))),
      manager(std::make_unique<AudioEngineManager>(*hardware, clock)) {}

ManagerRig::~ManagerRig() {
    manager->stop();
    manager.reset();
    runFor(clock, std::chrono::seconds(0));
}

bool ManagerRig::run(Async<void> flow) {
    Task task = spawn(std::move(flow));
    return runUntil(clock, [&] { return task.isDone(); });
}

void ManagerRig::settle() { runFor(clock, std::chrono::seconds(0)); }

void ManagerRig::route(int id, std::optional<int> in, bool inStereo, std::optional<int> out, bool outStereo) {
    auto& slot = strip(id);
    slot.setInputStereo(inStereo);
    slot.setOutputStereo(outStereo);
    slot.setInputChannel(in);
    slot.setOutputChannel(out);
}

} // namespace corvane::test
