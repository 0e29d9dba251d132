#include "tests/platform_engine/ManualBackend.h"

#include <cmath>
#include <limits>
#include <utility>

namespace corvane::test {

using hw::Scope;
using hw::Selector;

ManualBackend::ManualBackend(std::vector<Device> devices) {
    for (const auto& d : devices)
        devices_[d.id] = d;
    ioThread_ = std::thread([this] {
        std::unique_lock lock(jobMutex_);
        for (;;) {
            jobChanged_.wait(lock, [this] { return quit_ || job_; });
            if (quit_)
                return;
            (*job_)();
            job_ = nullptr;
            jobChanged_.notify_all();
        }
    });
}

ManualBackend::~ManualBackend() {
    {
        std::lock_guard lock(jobMutex_);
        quit_ = true;
    }
    jobChanged_.notify_all();
    ioThread_.join();
}

void ManualBackend::onIoThread(const std::function<void()>& job) {
    std::unique_lock lock(jobMutex_);
    job_ = &job;
    jobChanged_.notify_all();
    jobChanged_.wait(lock, [this] { return job_ == nullptr; });
}

std::vector<hw::ObjectId> ManualBackend::deviceIds() const {
    std::lock_guard lock(mutex_);
    std::vector<hw::ObjectId> ids;
    for (const auto& [id, device] : devices_)
        ids.push_back(id);
    return ids;
}

bool ManualBackend::owns(hw::ObjectId object) const {
    std::lock_guard lock(mutex_);
    return devices_.contains(object);
}

std::optional<hw::PropertyValue> ManualBackend::get(hw::ObjectId object, hw::Address address) const {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(object);
    if (it == devices_.end())
        return std::nullopt;
    const Device& d = it->second;
    switch (address.selector) {
    case Selector::Name:
        return std::string("Manual device ") + std::to_string(d.id);
    case Selector::Uid:
        return std::string("manual:") + std::to_string(d.id);
    case Selector::StreamConfiguration:
        if (address.scope == Scope::Global)
            return std::nullopt;
        return hw::StreamConfiguration{{static_cast<std::uint32_t>(address.scope == Scope::Input ? d.inputs : d.outputs)}};
    case Selector::NominalSampleRate:
        return d.sampleRate;
    case Selector::BufferFrameSize:
        return d.periodFrames;
    default:
        return std::nullopt;
    }
}

bool ManualBackend::set(hw::ObjectId object, hw::Address address, const hw::PropertyValue& value) {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(object);
    if (it == devices_.end())
        return false;
    if (address.selector == Selector::NominalSampleRate && std::holds_alternative<double>(value)) {
        it->second.sampleRate = std::get<double>(value);
        return true;
    }
    if (address.selector == Selector::BufferFrameSize && std::holds_alternative<std::uint32_t>(value)) {
        it->second.periodFrames = std::get<std::uint32_t>(value);
        return true;
    }
    return false;
}

bool ManualBackend::has(hw::ObjectId object, hw::Address address) const { return get(object, address).has_value(); }

bool ManualBackend::startIo(hw::ObjectId device, hw::IoCallback& callback, std::string& error) {
    std::lock_guard lock(mutex_);
    if (!devices_.contains(device)) {
        error = "No such device.";
        return false;
    }
    if (!refusal_.empty()) {
        error = std::exchange(refusal_, std::string());
        return false;
    }
    running_[device] = &callback;
    return true;
}

void ManualBackend::stopIo(hw::ObjectId device) {
    // Periods run under jobMutex_, so once it is ours no callback is running.
    std::lock_guard jobs(jobMutex_);
    std::lock_guard lock(mutex_);
    running_.erase(device);
}

bool ManualBackend::isRunning(hw::ObjectId device) const {
    std::lock_guard lock(mutex_);
    return running_.contains(device);
}

void ManualBackend::changeSampleRate(hw::ObjectId device, double rate) {
    {
        std::lock_guard lock(mutex_);
        devices_.at(device).sampleRate = rate;
    }
    notify(device, {Selector::NominalSampleRate});
}

void ManualBackend::changeOutputChannels(hw::ObjectId device, int channels) {
    {
        std::lock_guard lock(mutex_);
        devices_.at(device).outputs = channels;
    }
    notify(device, {Selector::StreamConfiguration, Scope::Output});
}

void ManualBackend::remove(hw::ObjectId device) {
    {
        std::lock_guard lock(mutex_);
        devices_.erase(device);
    }
    notify(hw::kSystemObject, {Selector::Devices});
}

void ManualBackend::reportConfigurationChange(hw::ObjectId device) { notify(device, {Selector::ConfigurationChange}); }

void ManualBackend::setPeriodFrames(hw::ObjectId device, std::uint32_t frames) {
    std::lock_guard lock(mutex_);
    devices_.at(device).periodFrames = frames;
}

Channels ManualBackend::runPeriod(hw::ObjectId device, const Channels& inputs, std::uint32_t frames) {
    int outputCount = 0;
    {
        std::lock_guard lock(mutex_);
        outputCount = devices_.count(device) ? devices_.at(device).outputs : 0;
    }
    Channels outputs(static_cast<std::size_t>(outputCount),
                     std::vector<float>(frames, std::numeric_limits<float>::quiet_NaN()));
    std::vector<const float*> in;
    for (const auto& channel : inputs)
        in.push_back(channel.data());
    std::vector<float*> out;
    for (auto& channel : outputs)
        out.push_back(channel.data());
    const std::function<void()> job = [&] {
        hw::IoCallback* callback = nullptr;
        {
            std::lock_guard lock(mutex_);
            auto it = running_.find(device);
            callback = it == running_.end() ? nullptr : it->second;
        }
        if (callback)
            callback->process(in.data(), static_cast<std::uint32_t>(in.size()), out.data(),
                              static_cast<std::uint32_t>(out.size()), frames);
    };
    onIoThread(job);
    return outputs;
}

} // namespace corvane::test
