#pragma once
// A test device driven by hand: its I/O callback runs on an I/O thread of its
// own, exactly when the test asks for a period, with the inputs the test gives,
// and the outputs come back to the test. Changes of the device come with the
// notifications a backend would send.

#include "tests/support/FakeBackend.h"

#include <limits>
#include <map>
#include <mutex>
#include <numeric>
#include <thread>
#include <utility>
#include <vector>

namespace corvane::test {

using Channels = std::vector<std::vector<float>>;

class ManualBackend final : public FakeBackend {
  public:
    struct Device {
        std::uint32_t inputs, outputs;
        double sampleRate;
        std::uint32_t periodFrames;
    };

    // The devices get ids 0x100, 0x101, ... in order.
    explicit ManualBackend(const std::vector<Device>& devices) : FakeBackend(0x100) {
        for (const auto& d : devices) {
            const auto id = addDevice("manual", "Manual", d.inputs, d.outputs);
            setProperty(id, {hw::Selector::NominalSampleRate}, d.sampleRate);
            setProperty(id, {hw::Selector::BufferFrameSize}, d.periodFrames);
        }
    }

    bool startIo(hw::ObjectId device, hw::IoCallback& callback, std::string& error) override {
        std::lock_guard lock(ioMutex_);
        error = !owns(device) ? "No such device." : std::exchange(refusal_, std::string());
        if (error.empty()) running_[device] = &callback;
        return error.empty();
    }
    // Periods run under ioMutex_ (see runPeriod), so none is running once this returns.
    bool stopIo(hw::ObjectId device, std::chrono::milliseconds) override {
        std::lock_guard lock(ioMutex_);
        running_.erase(device);
        return true;
    }
    bool isRunning(hw::ObjectId device) const {
        std::lock_guard lock(ioMutex_);
        return running_.contains(device);
    }

    // The next startIo() fails with `reason`.
    void refuseNextStart(std::string reason) { refusal_ = std::move(reason); }
    void changeSampleRate(hw::ObjectId device, double rate) {
        setProperty(device, {hw::Selector::NominalSampleRate}, rate);
        announce(device, {hw::Selector::NominalSampleRate});
    }
    void changeOutputChannels(hw::ObjectId device, std::uint32_t channels) {
        setProperty(device, {hw::Selector::StreamConfiguration, hw::Scope::Output},
                    hw::StreamConfiguration{{channels}});
        announce(device, {hw::Selector::StreamConfiguration, hw::Scope::Output});
    }
    void remove(hw::ObjectId device) {
        removeDevice(device);
        announceDeviceList();
    }

    // Runs one period of `frames` frames on an I/O thread and returns the
    // device's outputs, which start as NaN so that an unwritten sample shows.
    Channels runPeriod(hw::ObjectId device, const Channels& inputs, std::uint32_t frames) {
        const auto layout = get(device, {hw::Selector::StreamConfiguration, hw::Scope::Output});
        const auto widths =
            layout ? std::get<hw::StreamConfiguration>(*layout).bufferChannels : std::vector<std::uint32_t>{};
        Channels outputs(std::accumulate(widths.begin(), widths.end(), 0u),
                         std::vector<float>(frames, std::numeric_limits<float>::quiet_NaN()));
        std::vector<const float*> in;
        for (const auto& channel : inputs)
            in.push_back(channel.data());
        std::vector<float*> out;
        for (auto& channel : outputs)
            out.push_back(channel.data());
        std::lock_guard lock(ioMutex_);
        if (const auto running = running_.find(device); running != running_.end()) {
            std::thread([&] {
                running->second->process(in.data(), static_cast<std::uint32_t>(in.size()), out.data(),
                                         static_cast<std::uint32_t>(out.size()), frames);
            }).join();
        }
        return outputs;
    }

  private:
    mutable std::mutex ioMutex_;
    std::map<hw::ObjectId, hw::IoCallback*> running_;
    std::string refusal_;
};

} // namespace corvane::test
