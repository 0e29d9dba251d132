#pragma once
// A test device driven by hand: its I/O callback runs on an I/O thread of its
// own, exactly when the test asks for a period, with the inputs the test gives,
// and the outputs come back to the test. Properties are changed directly, with
// the notifications a backend would send, to play a device changing underneath.

#include "platform/hardware/Backend.h"

#include <map>
#include <mutex>
#include <vector>

namespace corvane::test {

using Channels = std::vector<std::vector<float>>;

class ManualBackend final : public hw::Backend {
    template <typename F>
    auto locked(F f) const {
        std::lock_guard lock(mutex_);
        return f();
    }

public:
    struct Device {
        hw::ObjectId id = 0;
        int inputs = 8;
        int outputs = 8;
        double sampleRate = 48000.0;
        std::uint32_t periodFrames = 256;
    };

    explicit ManualBackend(const std::vector<Device>& devices) {
        for (const auto& d : devices)
            devices_[d.id] = d;
    }

    std::string name() const override { return "manual"; }
    std::vector<hw::ObjectId> deviceIds() const override;
    bool owns(hw::ObjectId object) const override { return locked([&] { return devices_.contains(object); }); }
    std::optional<hw::PropertyValue> get(hw::ObjectId object, hw::Address address) const override;
    bool set(hw::ObjectId, hw::Address, const hw::PropertyValue&) override { return false; }
    bool has(hw::ObjectId object, hw::Address address) const override { return get(object, address).has_value(); }
    bool startIo(hw::ObjectId device, hw::IoCallback& callback, std::string& error) override;
    // A period runs under mutex_ (see runPeriod), so none is running once this returns.
    void stopIo(hw::ObjectId device) override { locked([&] { return running_.erase(device); }); }

    // The next startIo() fails with `reason`.
    void refuseNextStart(std::string reason) { refusal_ = std::move(reason); }
    // Each changes the device and notifies as a backend would.
    void changeSampleRate(hw::ObjectId device, double rate);
    void changeOutputChannels(hw::ObjectId device, int channels);
    void remove(hw::ObjectId device);
    void reportConfigurationChange(hw::ObjectId device) { notify(device, {hw::Selector::ConfigurationChange}); }
    // Notifies a property change without changing anything.
    void notifyOnly(hw::ObjectId object, hw::Address address) { notify(object, address); }
    // Changes the period length without telling anyone.
    void setPeriodFrames(hw::ObjectId device, std::uint32_t frames) {
        locked([&] { return devices_.at(device).periodFrames = frames; });
    }

    bool isRunning(hw::ObjectId device) const { return locked([&] { return running_.contains(device); }); }
    // Runs one period of `frames` frames on an I/O thread and returns the
    // device's outputs, which start as NaN so that an unwritten sample shows.
    Channels runPeriod(hw::ObjectId device, const Channels& inputs, std::uint32_t frames);

private:
    mutable std::mutex mutex_;
    std::map<hw::ObjectId, Device> devices_;
    std::map<hw::ObjectId, hw::IoCallback*> running_;
    std::string refusal_;
};

} // namespace corvane::test
