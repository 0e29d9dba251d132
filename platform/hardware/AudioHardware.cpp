#include "platform/hardware/AudioHardware.h"

#include <algorithm>

namespace corvane::hw {


AudioHardware::AudioHardware(std::vector<std::unique_ptr<Backend>> backends) : backends_(std::move(backends)) {
    for (auto& backend : backends_)
        backend->setNotify([this](ObjectId object, Address address) { dispatch(object, address); });
}

AudioHardware::~AudioHardware() {
    // Backends stop their own threads as they go; destroying them before the
    // listener table means none of those threads can report into a dead layer.
    backends_.clear();
}

Backend* AudioHardware::owner(ObjectId object) const {
    for (auto& backend : backends_)
        if (backend->owns(object))
            return backend.get();
    return nullptr;
}

std::optional<PropertyValue> AudioHardware::get(ObjectId object, Address address) const {
    if (object == kSystemObject) {
        if (address.selector != Selector::Devices || address.scope != Scope::Global)
            return std::nullopt;
        std::vector<ObjectId> ids;
        for (auto& backend : backends_) {
            auto more = backend->deviceIds();
            ids.insert(ids.end(), more.begin(), more.end());
        }
        return ids;
    }
    auto* backend = owner(object);
    return backend ? backend->get(object, address) : std::nullopt;
}

bool AudioHardware::set(ObjectId object, Address address, const PropertyValue& value) {
    auto* backend = owner(object);
    return backend && backend->set(object, address, value);
}

bool AudioHardware::has(ObjectId object, Address address) const {
    if (object == kSystemObject)
        return address.selector == Selector::Devices && address.scope == Scope::Global;
    auto* backend = owner(object);
    return backend && backend->has(object, address);
}

bool AudioHardware::isSettled() const {
    return std::all_of(backends_.begin(), backends_.end(), [](const auto& b) { return b->isSettled(); });
}

AudioHardware::ListenerId AudioHardware::addListener(ObjectId object, Address address, Listener listener) {
    const ListenerId id = nextListenerId_++;
    std::lock_guard lock(listenersMutex_);
    auto registration = std::make_shared<Registration>();
    registration->listener = std::move(listener);
    listeners_[{object, std::uint32_t(address.selector), std::uint32_t(address.scope), address.element}]
        .emplace_back(id, std::move(registration));
    return id;
}

bool AudioHardware::removeListener(ObjectId object, Address address, ListenerId id) {
    std::shared_ptr<Registration> removed;
    {
        std::lock_guard lock(listenersMutex_);
        auto it =
            listeners_.find({object, std::uint32_t(address.selector), std::uint32_t(address.scope), address.element});
        if (it == listeners_.end())
            return false;
        auto& list = it->second;
        auto entry = std::find_if(list.begin(), list.end(), [id](const auto& e) { return e.first == id; });
        if (entry == list.end())
            return false;
        removed = std::move(entry->second);
        list.erase(entry);
        if (list.empty())
            listeners_.erase(it);
    }
    // A dispatch may have picked it up just before: wait for that call, and
    // make sure a later one finds it removed.
    std::lock_guard calling(removed->calling);
    removed->removed = true;
    return true;
}

void AudioHardware::dispatch(ObjectId object, Address address) {
    std::vector<std::shared_ptr<Registration>> targets;
    {
        std::lock_guard lock(listenersMutex_);
        // A listener on the global scope hears a change in any scope of that selector.
        for (auto scope : {address.scope, Scope::Global}) {
            auto it = listeners_.find({object, std::uint32_t(address.selector), std::uint32_t(scope), address.element});
            if (it != listeners_.end())
                for (auto& entry : it->second)
                    targets.push_back(entry.second);
            if (address.scope == Scope::Global)
                break;
        }
    }
    for (auto& target : targets) {
        std::lock_guard calling(target->calling);
        if (!target->removed)
            target->listener();
    }
}

bool AudioHardware::startIo(ObjectId device, IoCallback& callback, std::string& error) {
    auto* backend = owner(device);
    if (!backend) {
        error = "The device is no longer present.";
        return false;
    }
    return backend->startIo(device, callback, error);
}

bool AudioHardware::stopIo(ObjectId device, std::chrono::milliseconds patience) {
    auto* backend = owner(device);
    return !backend || backend->stopIo(device, patience);
}

} // namespace corvane::hw
