#pragma once
// The device a setup names, found among the devices there are, and chosen when
// it can be: once the device list is whole (see
// AudioEngineManager::devicesSettled) and nothing plays. A device that stands
// in for a missing one is never taken for the setup's own. Main thread.

#include "devices/AudioDevice.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace corvane {

class AudioEngineManager;
class ChannelSlot;

struct DeviceChoice {
    std::optional<AudioDevice> device;
    QString note; // empty when the setup's own device was found by its uid
    // Another device (or none) in place of the setup's: a setup taken while
    // it is selected keeps naming the setup's own device.
    bool standIn = false;
};

// The setup's device among `devices`: by uid, else by name, else the first one.
DeviceChoice chooseSetupDevice(const QString& uid, const QString& name, const QList<AudioDevice>& devices);

// The strips whose channels `device` does not have, as notes; the manager
// leaves those channels unset when it selects the device.
QStringList unreachableChannels(const QList<ChannelSlot*>& strips, const AudioDevice& device);

// The setup's device, waiting to be chosen. When the setup's device is not
// there and another stands in for it, it stays while that one is selected: the
// setup still wants its own device, and says so when it is taken.
class PendingSetupDevice : public QObject {
public:
    using Tell = std::function<void(const QStringList&)>;
    // `tell` hears the notes of a choice made later, when the list arrives.
    PendingSetupDevice(AudioEngineManager& manager, QString uid, QString name, Tell tell, QObject* parent);

    const QString& uid() const { return uid_; }
    const QString& name() const { return name_; }
    // Still to be chosen (or being chosen now); false once a stand-in was
    // taken, and once it has left.
    bool isWaiting() const { return active_ && !standIn_; }
    // Whether a setup taken now names the setup's device rather than the selected one.
    bool isWanted() const;
    // Done with: chosen, given up, or replaced by a newer setup's. It goes
    // at the next turn of the event loop.
    void leave();

    // Chooses the device if it can be chosen now, and yields its notes.
    std::optional<QStringList> resolve();

private:
    void tryNow();

    AudioEngineManager& manager_;
    QString uid_;
    QString name_;
    Tell tell_;
    bool active_ = true;
    std::optional<QString> standIn_; // the device selected in the setup's device's place
};

} // namespace corvane
