#pragma once
// A test device driven by hand: its I/O callback runs on its own "I/O thread"
// exactly when the test asks for a period, with the inputs the test gives, and
// the outputs come back to the test. Properties and notifications are set
// directly, to play a device that changes underneath the engine.

#include "platform/hardware/Backend.h"

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace corvane::test {

using Channels = std::vector<std::vector<float>>;

class ManualBackend final : public hw::Backend {
public:
    struct Device {
        hw::ObjectId id = 0;
        int inputs = 8;
        int outputs = 8;
        double sampleRate = 48000.0;
        std::uint32_t periodFrames = 256;
    };

    explicit ManualBackend(std::vector<Device> devices);
    ~ManualBackend() override;

    std::string name() const override { return "manual"; }
    std::vector<hw::ObjectId> deviceIds() const override;
    bool owns(hw::ObjectId object) const override;
    std::optional<hw::PropertyValue> get(hw::ObjectId object, hw::Address address) const override;
    bool set(hw::ObjectId object, hw::Address address, const hw::PropertyValue& value) override;
    bool has(hw::ObjectId object, hw::Address address) const override;
    bool startIo(hw::ObjectId device, hw::IoCallback& callback, std::string& error) override;
    void stopIo(hw::ObjectId device) override;

    // The next startIo() fails with `reason`.
    void refuseNextStart(std::string reason) { refusal_ = std::move(reason); }
    // Each changes the device and notifies as a backend would.
    void changeSampleRate(hw::ObjectId device, double rate);
    void changeOutputChannels(hw::ObjectId device, int channels);
    void remove(hw::ObjectId device);
    void reportConfigurationChange(hw::ObjectId device);
    // Changes the period length without telling anyone.
    void setPeriodFrames(hw::ObjectId device, std::uint32_t frames);
    // Notifies a property change without changing anything.
    void notifyOnly(hw::ObjectId object, hw::Address address) { notify(object, address); }

    bool isRunning(hw::ObjectId device) const;
    // Runs one period of `frames` frames on the I/O thread and returns the
    // device's outputs; outputs start as NaN so an unwritten sample shows.
    // Without running I/O the outputs stay NaN.
    Channels runPeriod(hw::ObjectId device, const Channels& inputs, std::uint32_t frames);
    std::thread::id ioThread() const { return ioThread_.get_id(); }

private:
    void onIoThread(const std::function<void()>& job);

    mutable std::mutex mutex_;
    std::map<hw::ObjectId, Device> devices_;
    std::map<hw::ObjectId, hw::IoCallback*> running_;
    std::string refusal_;

    std::mutex jobMutex_;
    std::condition_variable jobChanged_;
    const std::function<void()>* job_ = nullptr;
    bool quit_ = false;
    std::thread ioThread_;
};

} // namespace corvane::test
