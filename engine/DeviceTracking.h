#pragma once
// The device list kept in step with the hardware, and the selected device
// followed through it: the user's device is remembered by uid, picked again
// when it returns, and let go (with playback) when it vanishes; a device chosen
// while playing is switched to, one switch after another.
//
// Main thread only. What it cannot do itself (stop and start playback, fit the
// strips, say what happened) it asks of its host, the engine manager.

#include "devices/AudioDevice.h"
#include "platform/hardware/AudioHardware.h"
#include "platform/system/Clock.h"
#include "platform/system/Task.h"

#include <QList>
#include <QObject>
#include <QString>
#include <chrono>
#include <optional>

namespace corvane {

class DeviceTracking : public QObject {
    Q_OBJECT

public:
    // What following the device needs from whoever runs the engine.
    class Host {
    public:
        virtual ~Host() = default;
        virtual bool isPlaying() const = 0;
        virtual void stopPlayback() = 0;
        // The restart a switch to another device makes, as the user's start.
        virtual Async<void> startPlayback() = 0;
        // Drops every strip channel the device cannot serve; with none, every channel.
        virtual void fitStrips(const std::optional<AudioDevice>& device) = 0;
        // The buffer sizes the (newly) selected device offers are looked up.
        virtual void refreshSupportedBufferRange() = 0;
        // The selected device left the list: playback, if any, stops, and the
        // user is told.
        virtual void selectedDeviceVanished(const AudioDevice& device) = 0;
        // The remembered device is back: what was said about its absence no longer holds.
        virtual void clearMessages() = 0;
        // Another device was chosen: a warning about the old one no longer holds.
        virtual void clearWarning() = 0;
    };

    // Waits at most this long from its creation for every backend's devices
    // (see settled()), then takes the list as it is.
    static constexpr std::chrono::seconds kPatience{3};

    // `hardware`, `clock` and `host` must outlive the tracking.
    DeviceTracking(hw::AudioHardware& hardware, Clock& clock, Host& host, QObject* parent = nullptr);
    ~DeviceTracking() override;

    const QList<AudioDevice>& devices() const { return devices_; }
    const std::optional<AudioDevice>& selected() const { return selected_; }
    // Whether the list holds every backend's devices; until then no device is
    // picked for want of one, and a remembered one is not given up on.
    bool settled() const { return settled_; }

    // Enumerates and takes the list; any number of calls during one
    // enumeration cause exactly one more.
    Async<void> refresh();
    // Takes a list; `complete` when every backend had finished its first look
    // for devices before it was read.
    void listChanged(const QList<AudioDevice>& list, bool complete);
    // Takes the list as it is from now on.
    void stopWaiting();
    // The user's choice (none included); switches playback to it if playing.
    void select(std::optional<AudioDevice> device);
    // Only the selection, with none of a choice's consequences: a recovery's
    // restart on the same device found again.
    void setSelected(std::optional<AudioDevice> device);

    // The restarts of switches made while playing, serialised.
    const Task& switchTask() const { return switchTask_; }

signals:
    void devicesChanged();
    void settledChanged();
    void selectedChanged();

private:
    void setDevices(QList<AudioDevice> devices);

    hw::AudioHardware& hardware_;
    Clock& clock_;
    Host& host_;
    QList<AudioDevice> devices_;
    std::optional<AudioDevice> selected_;
    // The user's device, looked for in every list while none is selected.
    std::optional<QString> preferredUID_;
    Task refreshTask_;
    bool refreshRequestedAgain_ = false;
    bool settled_ = false;
    std::optional<Clock::TimerId> patienceTimer_;
    std::optional<hw::AudioHardware::ListenerId> listListener_;
    Task switchTask_;
};

} // namespace corvane
