#pragma once
// What a backend shares when it keeps its devices in a list of its own and
// each device runs at most one I/O session: the list and the lock over it, the
// device ids in list order, the checks before a start, and stopping sessions.
//
// Device needs `ObjectId id`, `std::string name` and `std::shared_ptr<S>
// session` (set while I/O runs), where S is what stopOrKeepForever stops.

#include "platform/hardware/Backend.h"
#include "platform/hardware/alsa/SequencerInput.h"
#include "platform/system/KeepForever.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace corvane::hw {

template <class Device>
class DeviceListBackend : public Backend {
public:
    std::vector<ObjectId> deviceIds() const override {
        std::lock_guard lock(mutex_);
        std::vector<ObjectId> ids;
        for (const auto& device : devices_)
            ids.push_back(device.id);
        return ids;
    }

    bool stopIo(ObjectId id, std::chrono::milliseconds patience) override {
        std::shared_ptr<SessionOf> session;
        {
            std::lock_guard lock(mutex_);
            if (Device* device = find(id))
                session = std::move(device->session);
        }
        // Outside the lock: stopping announces what is pending, and the
        // listeners may read properties.
        return stopOrKeepForever(std::move(session), patience);
    }

    // MIDI control of this backend's devices: the ALSA sequencer port, one
    // for all the backends that take it. Main thread, before any I/O starts.
    void setSequencer(std::shared_ptr<alsa::SequencerInput> sequencer) { sequencer_ = std::move(sequencer); }
    const std::shared_ptr<alsa::SequencerInput>& sequencer() const { return sequencer_; }

protected:
    using SessionOf = typename decltype(Device::session)::element_type;

    // With mutex_ held; null when `id` names none.
    Device* find(ObjectId id) { return findById(devices_, id); }
    const Device* find(ObjectId id) const { return findById(devices_, id); }

    // With mutex_ held: the device I/O may start on, or null with the reason in `error`.
    Device* idleDevice(ObjectId id, std::string& error) {
        Device* device = find(id);
        if (!device)
            error = "The device is no longer present.";
        else if (device->session)
            error = "Audio I/O is already running on " + device->name + ".";
        return device && !device->session ? device : nullptr;
    }

    // For the destructor: stops every session still running.
    void stopAllIo(std::chrono::milliseconds patience) {
        std::vector<std::shared_ptr<SessionOf>> sessions;
        {
            std::lock_guard lock(mutex_);
            for (auto& device : devices_)
                if (device.session)
                    sessions.push_back(std::move(device.session));
        }
        for (auto& session : sessions)
            stopOrKeepForever(std::move(session), patience);
    }

    // For a start of I/O, on the main thread: what its period loop drains.
    alsa::SequencerInput::Feed controlFeed() const {
        return sequencer_ ? sequencer_->feedForStart() : alsa::SequencerInput::Feed{};
    }

    mutable std::mutex mutex_; // guards devices_ and what the backend adds to it; never taken on the I/O thread
    std::vector<Device> devices_;

private:
    std::shared_ptr<alsa::SequencerInput> sequencer_;

    template <class List>
    static auto* findById(List& devices, ObjectId id) {
        auto it = std::find_if(devices.begin(), devices.end(), [&](const Device& d) { return d.id == id; });
        return it == devices.end() ? nullptr : &*it;
    }
};

} // namespace corvane::hw
