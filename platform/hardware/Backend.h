#pragma once
// One source of audio devices (the virtual device, JACK, ALSA). Every
// backend implements this interface; AudioHardware merges them into one model.
//
// Threads: get/set/has may be called from any thread and must not touch the
// real-time path; listeners may be called on any thread (never the real-time
// one) and must be cheap. Devices may vanish at any time: every call on an id
// that no longer exists fails quietly (no value, false).

#include "platform/hardware/IoCallback.h"
#include "platform/hardware/Properties.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace corvane::hw {

class Backend {
public:
    using Notify = std::function<void(ObjectId object, Address address)>;

    Backend() = default;
    virtual ~Backend() = default;
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;

    // Short lower-case name: "virtual", "jack", "alsa".
    virtual std::string name() const = 0;

    // Device ids, in this backend's order. Ids are unique across all backends
    // (each backend draws from its own range) and are not reused while the
    // process runs, so a vanished device's id never names another one.
    virtual std::vector<ObjectId> deviceIds() const = 0;

    // Whether `object` (a device or stream of this backend) is this backend's.
    virtual bool owns(ObjectId object) const = 0;

    // Whether the first look for devices is done, so that deviceIds() holds
    // all there are to find now. A backend that looks on a thread of its own
    // is not at first, and announces its device list once it is, changed or
    // not. Any thread.
    virtual bool isSettled() const { return true; }

    virtual std::optional<PropertyValue> get(ObjectId object, Address address) const = 0;
    virtual bool set(ObjectId object, Address address, const PropertyValue& value) = 0;
    virtual bool has(ObjectId object, Address address) const { return get(object, address).has_value(); }

    // Starts duplex I/O on `device`, calling `callback` once per period on the
    // backend's real-time thread until stopIo(). One callback per device. On
    // failure returns false and a readable reason in `error`.
    virtual bool startIo(ObjectId device, IoCallback& callback, std::string& error) = 0;
    // Stops I/O; when it returns true the callback is no longer running and
    // will not be called again. Safe to call when not started. False when the
    // callback did not return within `patience` (it hangs): the backend then
    // leaves that thread and everything it touches behind, never freed, and the
    // caller must do the same with the callback.
    virtual bool stopIo(ObjectId device, std::chrono::milliseconds patience) = 0;

    // The backend reports property changes through this (set once by AudioHardware
    // before any other call): device-list changes as (kSystemObject, Devices),
    // overloads as (device, Overload), and so on.
    void setNotify(Notify notify) { notify_ = std::move(notify); }

protected:
    void notify(ObjectId object, Address address) const {
        if (notify_)
            notify_(object, address);
    }

private:
    Notify notify_;
};

} // namespace corvane::hw
