#include "tests/platform_engine/ManualBackend.h"

#include <limits>
#include <thread>
#include <utility>

namespace corvane::test {

using hw::Scope;
using hw::Selector;

std::vector<hw::ObjectId> ManualBackend::deviceIds() const {
    std::lock_guard lock(mutex_);
    std::vector<hw::ObjectId> ids;
    for (const auto& entry : devices_)
        ids.push_back(entry.first);
    return ids;
}

std::optional<hw::PropertyValue> ManualBackend::get(hw::ObjectId object, hw::Address address) const {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(object);
    if (it == devices_.end())
        return std::nullopt;
    const Device& d = it->second;
    if (address.selector == Selector::StreamConfiguration && address.scope != Scope::Global)
        return hw::StreamConfiguration{{static_cast<std::uint32_t>(address.scope == Scope::Input ? d.inputs : d.outputs)}};
    if (address.selector == Selector::NominalSampleRate)
        return d.sampleRate;
    if (address.selector == Selector::BufferFrameSize)
        return d.periodFrames;
    return std::nullopt;
}

bool ManualBackend::startIo(hw::ObjectId device, hw::IoCallback& callback, std::string& error) {
    std::lock_guard lock(mutex_);
    error = !devices_.contains(device) ? "No such device." : std::exchange(refusal_, std::string());
    if (error.empty())
        running_[device] = &callback;
    return error.empty();
}

void ManualBackend::changeSampleRate(hw::ObjectId device, double rate) {
    locked([&] { return devices_.at(device).sampleRate = rate; });
    notify(device, {Selector::NominalSampleRate});
}

void ManualBackend::changeOutputChannels(hw::ObjectId device, int channels) {
    locked([&] { return devices_.at(device).outputs = channels; });
    notify(device, {Selector::StreamConfiguration, Scope::Output});
}

void ManualBackend::remove(hw::ObjectId device) {
    locked([&] { return devices_.erase(device); });
    notify(hw::kSystemObject, {Selector::Devices});
}

Channels ManualBackend::runPeriod(hw::ObjectId device, const Channels& inputs, std::uint32_t frames) {
    std::lock_guard lock(mutex_);
    const auto it = devices_.find(device);
    Channels outputs(it == devices_.end() ? 0u : static_cast<std::size_t>(it->second.outputs),
                     std::vector<float>(frames, std::numeric_limits<float>::quiet_NaN()));
    std::vector<const float*> in;
    for (const auto& channel : inputs)
        in.push_back(channel.data());
    std::vector<float*> out;
    for (auto& channel : outputs)
        out.push_back(channel.data());
    const auto running = running_.find(device);
    if (running == running_.end())
        return outputs;
    std::thread io([&] {
        running->second->process(in.data(), static_cast<std::uint32_t>(in.size()), out.data(),
                                 static_cast<std::uint32_t>(out.size()), frames);
    });
    io.join();
    return outputs;
}

} // namespace corvane::test
