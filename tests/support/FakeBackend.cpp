#include "tests/support/FakeBackend.h"

#include <algorithm>

namespace corvane::test {

using hw::Address;
using hw::Scope;
using hw::Selector;

hw::ObjectId FakeBackend::addDevice(const std::string& uid, const std::string& name, std::uint32_t inputs,
                                    std::uint32_t outputs) {
    std::lock_guard lock(mutex_);
    const hw::ObjectId id = nextId_++;
    devices_.push_back(id);
    objects_.push_back(id);
    properties_[key(id, {Selector::Name})] = name;
    properties_[key(id, {Selector::Uid})] = uid;
    properties_[key(id, {Selector::StreamConfiguration, Scope::Input})] =
        hw::StreamConfiguration{inputs ? std::vector<std::uint32_t>{inputs} : std::vector<std::uint32_t>{}};
    properties_[key(id, {Selector::StreamConfiguration, Scope::Output})] =
        hw::StreamConfiguration{outputs ? std::vector<std::uint32_t>{outputs} : std::vector<std::uint32_t>{}};
    properties_[key(id, {Selector::BufferFrameSizeRange})] = std::vector<hw::ValueRange>{{16, 4096}};
    properties_[key(id, {Selector::BufferFrameSize})] = std::uint32_t(256);
    properties_[key(id, {Selector::NominalSampleRate})] = 48000.0;
    return id;
}

void FakeBackend::removeDevice(hw::ObjectId id) {
    std::lock_guard lock(mutex_);
    std::erase(devices_, id);
    std::erase(objects_, id);
    std::erase_if(properties_, [id](const auto& entry) { return std::get<0>(entry.first) == id; });
}

hw::ObjectId FakeBackend::addStream(hw::ObjectId device, Scope scope) {
    std::lock_guard lock(mutex_);
    const hw::ObjectId id = nextId_++;
    objects_.push_back(id);
    auto& streams = properties_[key(device, {Selector::Streams, scope})];
    if (!std::holds_alternative<std::vector<hw::ObjectId>>(streams))
        streams = std::vector<hw::ObjectId>{};
    std::get<std::vector<hw::ObjectId>>(streams).push_back(id);
    return id;
}

void FakeBackend::setProperty(hw::ObjectId object, Address address, hw::PropertyValue value) {
    std::lock_guard lock(mutex_);
    properties_[key(object, address)] = std::move(value);
}

void FakeBackend::eraseProperty(hw::ObjectId object, Address address) {
    std::lock_guard lock(mutex_);
    properties_.erase(key(object, address));
}

void FakeBackend::setDeviceOrder(std::vector<hw::ObjectId> ids) {
    std::lock_guard lock(mutex_);
    devices_ = std::move(ids);
}

void FakeBackend::closeGate() {
    std::lock_guard lock(mutex_);
    gateClosed_ = true;
}

void FakeBackend::openGate() {
    {
        std::lock_guard lock(mutex_);
        gateClosed_ = false;
    }
    gateChanged_.notify_all();
}

std::vector<hw::ObjectId> FakeBackend::deviceIds() const {
    std::unique_lock lock(mutex_);
    ++listQueries_;
    gateChanged_.wait(lock, [this] { return !gateClosed_; });
    if (failList_)
        return {};
    return devices_;
}

bool FakeBackend::owns(hw::ObjectId object) const {
    std::lock_guard lock(mutex_);
    return std::find(objects_.begin(), objects_.end(), object) != objects_.end();
}

std::optional<hw::PropertyValue> FakeBackend::get(hw::ObjectId object, Address address) const {
    std::lock_guard lock(mutex_);
    auto it = properties_.find(key(object, address));
    if (it == properties_.end())
        return std::nullopt;
    return it->second;
}

bool FakeBackend::set(hw::ObjectId object, Address address, const hw::PropertyValue& value) {
    {
        std::lock_guard lock(mutex_);
        auto it = properties_.find(key(object, address));
        if (it == properties_.end() || refused_[{object, std::uint32_t(address.selector)}])
            return false;
        it->second = value;
    }
    notify(object, address);
    return true;
}

bool FakeBackend::has(hw::ObjectId object, Address address) const {
    std::lock_guard lock(mutex_);
    return properties_.count(key(object, address)) > 0;
}

void FakeBackend::refuseWrites(hw::ObjectId object, Selector selector, bool refuse) {
    std::lock_guard lock(mutex_);
    refused_[{object, std::uint32_t(selector)}] = refuse;
}

} // namespace corvane::test
