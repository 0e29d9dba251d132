#pragma once
// A manager on the virtual device in manual-clock mode: periods run when the
// test says so, time moves when the test says so.

#include "platform/hardware/virtual/VirtualBackend.h"
#include "tests/support/ManagerRig.h"

#include <gtest/gtest.h>

namespace corvane::test {

inline const std::string kVirtual = hw::VirtualBackend::kDefaultUid;

struct VirtualRig : ManagerRig {
    hw::VirtualBackend* device;

    VirtualRig() : ManagerRig(makeBackends(device)) {
        device->setClockMode(kVirtual, hw::VirtualBackend::ClockMode::Manual);
        refresh();
    }

    static std::vector<std::unique_ptr<hw::Backend>> makeBackends(hw::VirtualBackend*& out) {
        auto backend = std::make_unique<hw::VirtualBackend>();
        out = backend.get();
        std::vector<std::unique_ptr<hw::Backend>> list;
        list.push_back(std::move(backend));
        return list;
    }

    // Runs `periods` periods on the render path (the calling thread).
    void render(std::uint64_t periods, const std::string& uid = kVirtual) {
        ASSERT_TRUE(device->runPeriods(uid, periods));
    }
};

} // namespace corvane::test
