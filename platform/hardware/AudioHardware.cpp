#include "platform/hardware/AudioHardware.h"

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

AudioHardware::ListenerId AudioHardware::addListener(ObjectId object, Address address, Listener listener) {
    const ListenerId id = nextListenerId_++;
    std::lock_guard lock(listenersMutex_);
    listeners_[{object, std::uint32_t(address.selector), std::uint32_t(address.scope), address.element}]
        .emplace_back(id, std::make_shared<Listener>(std::move(listener)));
    return id;
}

bool AudioHardware::removeListener(ObjectId object, Address address, ListenerId id) {
    std::lock_guard lock(listenersMutex_);
    auto it = listeners_.find({object, std::uint32_t(address.selector), std::uint32_t(address.scope), address.element});
    if (it == listeners_.end())
        return false;
    auto& list = it->second;
    const auto before = list.size();
    std::erase_if(list, [id](const auto& entry) { return entry.first == id; });
    const bool removed = list.size() != before;
    if (list.empty())
        listeners_.erase(it);
    return removed;
}

void AudioHardware::dispatch(ObjectId object, Address address) {
    std::vector<std::shared_ptr<Listener>> targets;
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
    for (auto& listener : targets)
        (*listener)();
}

bool AudioHardware::startIo(ObjectId device, IoCallback& callback, std::string& error) {
    auto* backend = owner(device);
    if (!backend) {
        error = "The device is no longer present.";
        return false;
    }
    return backend->startIo(device, callback, error);
}

void AudioHardware::stopIo(ObjectId device) {
    if (auto* backend = owner(device))
        backend->stopIo(device);
}

} // namespace corvane::hw
