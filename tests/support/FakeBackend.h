#pragma once
// A scriptable in-memory backend: tests set any property of any object directly,
// make reads fail, hold the device list query on a gate, and count queries.

#include "platform/hardware/Backend.h"

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <tuple>

namespace corvane::test {

class FakeBackend : public hw::Backend {
public:
    explicit FakeBackend(hw::ObjectId firstId = 0x30000000) : nextId_(firstId) {}

    std::string name() const override { return "fake"; }

    // A device with the usual properties; returns its id.
    hw::ObjectId addDevice(const std::string& uid, const std::string& name, std::uint32_t inputs,
                           std::uint32_t outputs);
    void removeDevice(hw::ObjectId id);
    hw::ObjectId addStream(hw::ObjectId device, hw::Scope scope);
    void setProperty(hw::ObjectId object, hw::Address address, hw::PropertyValue value);
    void eraseProperty(hw::ObjectId object, hw::Address address);
    void setDeviceOrder(std::vector<hw::ObjectId> ids);
    // Announces a device-list change to AudioHardware's listeners.
    void announceDeviceList() { notify(hw::kSystemObject, hw::Address{hw::Selector::Devices}); }
    void announce(hw::ObjectId object, hw::Address address) { notify(object, address); }

    // While closed, deviceIds() blocks (on the background thread asking).
    void closeGate();
    void openGate();
    int deviceListQueries() const { return listQueries_; }
    void failDeviceList(bool fail) { failList_ = fail; }
    // A backend still looking for its devices (as JACK is at first), until it
    // is told it has settled; then it announces its list.
    void setSettled(bool settled) {
        settled_ = settled;
        if (settled)
            announceDeviceList();
    }
    bool isSettled() const override { return settled_; }

    std::vector<hw::ObjectId> deviceIds() const override;
    bool owns(hw::ObjectId object) const override;
    std::optional<hw::PropertyValue> get(hw::ObjectId object, hw::Address address) const override;
    bool set(hw::ObjectId object, hw::Address address, const hw::PropertyValue& value) override;
    bool has(hw::ObjectId object, hw::Address address) const override;
    bool startIo(hw::ObjectId, hw::IoCallback&, std::string& error) override {
        error = "The test device has no I/O.";
        return false;
    }
    bool stopIo(hw::ObjectId, std::chrono::milliseconds) override { return true; }

    // Writes that succeed: by default every property that exists may be written.
    void refuseWrites(hw::ObjectId object, hw::Selector selector, bool refuse);

private:
    using Key = std::tuple<hw::ObjectId, std::uint32_t, std::uint32_t>;
    static Key key(hw::ObjectId object, hw::Address a) {
        return {object, std::uint32_t(a.selector), std::uint32_t(a.scope)};
    }
    mutable std::mutex mutex_;
    mutable std::condition_variable gateChanged_;
    bool gateClosed_ = false;
    std::atomic<bool> failList_{false};
    std::atomic<bool> settled_{true};
    mutable std::atomic<int> listQueries_{0};
    hw::ObjectId nextId_;
    std::vector<hw::ObjectId> devices_;
    std::vector<hw::ObjectId> objects_;
    std::map<Key, hw::PropertyValue> properties_;
    std::map<std::pair<hw::ObjectId, std::uint32_t>, bool> refused_;
};

} // namespace corvane::test
