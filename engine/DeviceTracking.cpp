#include "engine/DeviceTracking.h"

#include "devices/DeviceEnumeration.h"
#include "engine/ObservableField.h"
#include "platform/system/Logging.h"
#include "platform/system/MainThread.h"

#include <QPointer>
#include <QStringList>
#include <utility>

namespace corvane {

namespace {
// The set of uids, so that a mere reorder does not count as a change worth logging.
QStringList uids(const QList<AudioDevice>& devices) {
    QStringList list;
    for (const auto& d : devices)
        list.append(d.uid);
    list.sort();
    return list;
}

std::optional<AudioDevice> firstWithUid(const QList<AudioDevice>& devices, const QString& uid) {
    for (const auto& d : devices)
        if (d.uid == uid)
            return d;
    return std::nullopt;
}
} // namespace

DeviceTracking::DeviceTracking(hw::AudioHardware& hardware, Clock& clock, Host& host, QObject* parent)
    : QObject(parent), hardware_(hardware), clock_(clock), host_(host) {
    patienceTimer_ = clock_.callAt(clock_.now() + kPatience, [this] {
        patienceTimer_.reset();
        qCInfo(lcEngine, "Not every device backend has answered within %llds - the device list is taken as it is",
               static_cast<long long>(kPatience.count()));
        stopWaiting();
    });

    // The hardware calls this on a thread of its own: only hop to the main thread.
    QPointer<DeviceTracking> self(this);
    listListener_ = hardware_.addListener(hw::kSystemObject, hw::Address{hw::Selector::Devices}, [self] {
        postToMain([self] {
            if (self)
                spawn(self->refresh());
        });
    });
}

DeviceTracking::~DeviceTracking() {
    if (patienceTimer_)
        clock_.cancelTimer(*patienceTimer_);
    if (listListener_)
        hardware_.removeListener(hw::kSystemObject, hw::Address{hw::Selector::Devices}, *listListener_);
    refreshTask_.cancel();
}

void DeviceTracking::setDevices(QList<AudioDevice> devices) {
    if (assignIfChanged(devices_, std::move(devices)))
        emit devicesChanged();
}

void DeviceTracking::setSelected(std::optional<AudioDevice> device) {
    if (assignIfChanged(selected_, std::move(device)))
        emit selectedChanged();
}

Async<void> DeviceTracking::refresh() {
    QPointer<DeviceTracking> self(this);
    if (refreshTask_) {
        refreshRequestedAgain_ = true;
        const Task running = refreshTask_;
        co_await running.join();
        co_return;
    }
    do {
        refreshRequestedAgain_ = false;
        refreshTask_ = spawnWith([this, self]() -> Async<void> {
            // Whether the list is whole is known before it is read, never after.
            auto listing = co_await runDetached([hardware = &hardware_] {
                const bool complete = hardware->isSettled();
                return std::make_pair(listDevices(*hardware), complete);
            });
            if (self && listing)
                listChanged(listing->first, listing->second);
        });
        const Task running = refreshTask_;
        co_await running.join();
        if (!self)
            co_return;
        refreshTask_ = Task();
    } while (refreshRequestedAgain_);
}

void DeviceTracking::listChanged(const QList<AudioDevice>& list, bool complete) {
    if (uids(list) != uids(devices_))
        qCInfo(lcEngine, "Device list changed: %lld -> %lld devices", static_cast<long long>(devices_.size()),
               static_cast<long long>(list.size()));
    // Settled before the list is set: whoever waits for both sees them at once.
    const bool settling = complete && !settled_;
    if (settling) {
        settled_ = true;
        if (patienceTimer_)
            clock_.cancelTimer(*std::exchange(patienceTimer_, std::nullopt));
    }
    setDevices(list);
    if (settling)
        emit settledChanged();

    if (!selected_) {
        if (!preferredUID_) {
            // Not yet: a backend still looking may put its devices before these.
            if (!settled_)
                return;
            select(list.isEmpty() ? std::nullopt : std::optional<AudioDevice>(list.first()));
            return;
        }
        auto found = firstWithUid(list, *preferredUID_);
        if (!found)
            return;
        setSelected(*found);
        host_.fitStrips(*found);
        host_.refreshSupportedBufferRange();
        host_.clearMessages();
        return;
    }

    const AudioDevice current = *selected_;
    auto found = firstWithUid(list, current.uid);
    if (found) {
        if (*found == current)
            return;
        // Same device, new id, name or channel counts: playback goes on.
        setSelected(*found);
        host_.fitStrips(*found);
        host_.refreshSupportedBufferRange();
        return;
    }

    qCInfo(lcEngine, "Selected device “%s” (uid %s) is missing from a device list of %lld - running: %s",
           qUtf8Printable(current.name), qUtf8Printable(current.uid), static_cast<long long>(list.size()),
           host_.isPlaying() ? "true" : "false");
    host_.selectedDeviceVanished(current);
    setSelected(std::nullopt);
    host_.refreshSupportedBufferRange();
}

void DeviceTracking::stopWaiting() {
    if (patienceTimer_) {
        clock_.cancelTimer(*patienceTimer_);
        patienceTimer_.reset();
    }
    if (settled_)
        return;
    settled_ = true;
    emit settledChanged();
    // The pick the last list did not make; before any list, the first one makes it.
    if (!selected_ && !preferredUID_ && !devices_.isEmpty())
        select(devices_.first());
}

void DeviceTracking::select(std::optional<AudioDevice> device) {
    const bool wasPlaying = host_.isPlaying();
    setSelected(device);
    preferredUID_ = device ? std::optional<QString>(device->uid) : std::nullopt;
    host_.clearWarning();
    host_.fitStrips(device);
    host_.refreshSupportedBufferRange();

    if (!wasPlaying)
        return;
    if (!device) {
        host_.stopPlayback();
        return;
    }
    // Restarts are serialised: each waits for the one before, none is cancelled.
    // The restart begins from the event loop, after the caller is done.
    QPointer<DeviceTracking> self(this);
    switchTask_ = spawnWith([this, self, previous = switchTask_]() -> Async<void> {
        co_await yieldToEventLoop();
        co_await previous.join();
        if (self)
            co_await host_.startPlayback();
    });
}

} // namespace corvane
