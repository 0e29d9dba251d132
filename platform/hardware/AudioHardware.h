#pragma once
// The audio hardware layer: all backends merged into one object model with a
// system object whose device list is the backends' lists in order (hardware
// backends first, the virtual device last), plus property listeners and duplex
// I/O on a device.
//
// Threads: every method may be called from any thread except the real-time one.
// Listeners run on the thread the backend reports from (a backend thread or the
// main thread) and must only hand the event on.

#include "platform/hardware/Backend.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <tuple>
#include <vector>

namespace corvane::hw {

class AudioHardware {
public:
    using Listener = std::function<void()>;
    using ListenerId = std::uint64_t;

    // Backends in list order; the layer owns them.
    explicit AudioHardware(std::vector<std::unique_ptr<Backend>> backends);
    ~AudioHardware();
    AudioHardware(const AudioHardware&) = delete;
    AudioHardware& operator=(const AudioHardware&) = delete;

    std::optional<PropertyValue> get(ObjectId object, Address address) const;
    bool set(ObjectId object, Address address, const PropertyValue& value);
    bool has(ObjectId object, Address address) const;

    template <class T>
    std::optional<T> getAs(ObjectId object, Address address) const {
        auto value = get(object, address);
        if (!value)
            return std::nullopt;
        if (auto* typed = std::get_if<T>(&*value))
            return std::move(*typed);
        return std::nullopt;
    }

    // Registers `listener` for changes of `address` on `object`. Returns its id,
    // which removeListener() takes together with the same object and address.
    ListenerId addListener(ObjectId object, Address address, Listener listener);
    // Once it returns, the listener is not running and never runs again (a call
    // in progress on another thread is waited for; it only hands events on).
    bool removeListener(ObjectId object, Address address, ListenerId id);

    // Whether every backend has finished its first look for devices (see
    // Backend::isSettled): a device list read now is the whole one.
    bool isSettled() const;

    bool startIo(ObjectId device, IoCallback& callback, std::string& error);
    // See Backend::stopIo.
    bool stopIo(ObjectId device, std::chrono::milliseconds patience = std::chrono::seconds(2));

    // The first backend of type B, for tests and the command line.
    template <class B>
    B* backend() const {
        for (auto& b : backends_)
            if (auto* typed = dynamic_cast<B*>(b.get()))
                return typed;
        return nullptr;
    }

private:
    Backend* owner(ObjectId object) const;
    void dispatch(ObjectId object, Address address);

    std::vector<std::unique_ptr<Backend>> backends_;
    struct Registration {
        Listener listener;
        std::recursive_mutex calling; // held while it runs; recursive, so it may remove itself
        bool removed = false;
    };
    using Key = std::tuple<ObjectId, std::uint32_t, std::uint32_t, std::uint32_t>;
    mutable std::mutex listenersMutex_;
    std::map<Key, std::vector<std::pair<ListenerId, std::shared_ptr<Registration>>>> listeners_;
    std::atomic<ListenerId> nextListenerId_{1};
};

// The layer the application runs on: JACK (when a server is reachable), the
// ALSA cards and the PCMs the user names (CORVANE_ALSA_DEVICES, else the
// setting AlsaDevices), and the virtual device, in that order.
std::unique_ptr<AudioHardware> createDefaultHardware();

// Main thread: runs the event loop until every backend has finished its first
// look for devices (a JACK server found or not), at most `timeout`.
bool waitUntilSettled(AudioHardware& hardware, std::chrono::milliseconds timeout);

} // namespace corvane::hw
