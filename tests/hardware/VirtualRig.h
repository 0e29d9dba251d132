#pragma once
// The hardware layer holding only the virtual backend, with its default device
// and a probe callback at hand; I/O is stopped at the end of every test.

#include "platform/hardware/AudioHardware.h"
#include "platform/hardware/virtual/VirtualBackend.h"
#include "tests/hardware/IoProbe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

namespace corvane::test {

inline constexpr const char* kUid = hw::VirtualBackend::kDefaultUid;

class VirtualRig : public ::testing::Test {
protected:
    VirtualRig() {
        std::vector<std::unique_ptr<hw::Backend>> backends;
        backends.push_back(std::make_unique<hw::VirtualBackend>());
        hardware = std::make_unique<hw::AudioHardware>(std::move(backends));
        virt = hardware->backend<hw::VirtualBackend>();
        device = *virt->deviceId(kUid);
    }
    ~VirtualRig() override { hardware->stopIo(device); }

    bool start(hw::IoCallback& callback, hw::ObjectId on = hw::kNoObject) {
        std::string error;
        const bool started = hardware->startIo(on == hw::kNoObject ? device : on, callback, error);
        EXPECT_EQ(error.empty(), started) << error;
        return started;
    }
    std::vector<hw::ObjectId> devices() const {
        return hardware->getAs<std::vector<hw::ObjectId>>(hw::kSystemObject, {hw::Selector::Devices})
            .value_or(std::vector<hw::ObjectId>{});
    }
    // Counts the listener calls on one address from now on.
    std::atomic<int>& listen(hw::ObjectId object, hw::Address address) {
        auto* counter = counters_.emplace_back(std::make_unique<std::atomic<int>>(0)).get();
        hardware->addListener(object, address, [counter] { ++*counter; });
        return *counter;
    }

    // Declared first, so they outlive the layer's listeners and I/O.
    std::vector<std::unique_ptr<std::atomic<int>>> counters_;
    IoProbe probe;
    std::unique_ptr<hw::AudioHardware> hardware;
    hw::VirtualBackend* virt = nullptr;
    hw::ObjectId device = hw::kNoObject;
};

} // namespace corvane::test
