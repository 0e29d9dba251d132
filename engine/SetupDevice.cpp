#include "engine/SetupDevice.h"

#include "engine/AudioEngineManager.h"
#include "engine/ChannelSlot.h"

namespace corvane {

namespace {

QString channelsText(int first, bool stereo) {
    return stereo ? QStringLiteral("%1-%2").arg(first + 1).arg(first + 2) : QString::number(first + 1);
}

} // namespace

DeviceChoice chooseSetupDevice(const QString& uid, const QString& name, const QList<AudioDevice>& devices) {
    for (const auto& d : devices)
        if (!uid.isEmpty() && d.uid == uid)
            return {d, {}};
    const QString wanted = name.isEmpty() ? uid : name;
    for (const auto& d : devices)
        if (!name.isEmpty() && d.name == name)
            return {d, QStringLiteral("“%1” (%2) is not present - using the device of the same name (%3).")
                           .arg(wanted, uid, d.uid)};
    if (devices.isEmpty())
        return {std::nullopt, QStringLiteral("“%1” is not present, nor is any other device.").arg(wanted), true};
    return {devices.first(), QStringLiteral("“%1” is not present - using “%2”.").arg(wanted, devices.first().name),
            true};
}

QStringList unreachableChannels(const QList<ChannelSlot*>& strips, const AudioDevice& device) {
    QStringList notes;
    for (const ChannelSlot* slot : strips) {
        auto check = [&](std::optional<int> channel, bool stereo, int count, const char* side) {
            if (channel && *channel + (stereo ? 1 : 0) >= count)
                notes.append(QStringLiteral("Strip %1: %2 %3 is beyond “%4” (%5) - left unset.")
                                 .arg(slot->id() + 1)
                                 .arg(QLatin1String(side), channelsText(*channel, stereo), device.name)
                                 .arg(count));
        };
        check(slot->inputChannel(), slot->inputStereo(), device.inputChannels, "input");
        check(slot->outputChannel(), slot->outputStereo(), device.outputChannels, "output");
    }
    return notes;
}

PendingSetupDevice::PendingSetupDevice(AudioEngineManager& manager, QString uid, QString name, Tell tell,
                                       QObject* parent)
    : QObject(parent), manager_(manager), uid_(std::move(uid)), name_(std::move(name)), tell_(std::move(tell)) {
    // At once when the list arrives: before the manager picks its first
    // device for want of one, which would drop channels that device lacks.
    connect(&manager, &AudioEngineManager::devicesChanged, this, &PendingSetupDevice::tryNow);
    connect(&manager, &AudioEngineManager::devicesSettledChanged, this, &PendingSetupDevice::tryNow);
    connect(&manager, &AudioEngineManager::isRunningChanged, this, &PendingSetupDevice::tryNow, Qt::QueuedConnection);
}

bool PendingSetupDevice::isWanted() const {
    const auto& selected = manager_.selectedDevice();
    return active_ && (!standIn_ || !selected || selected->uid == *standIn_);
}

std::optional<QStringList> PendingSetupDevice::resolve() {
    if (!active_ || standIn_ || manager_.isRunning() || !manager_.devicesSettled() || manager_.devices().isEmpty())
        return std::nullopt;
    const DeviceChoice choice = chooseSetupDevice(uid_, name_, manager_.devices());
    QStringList notes;
    if (!choice.note.isEmpty())
        notes.append(choice.note);
    if (choice.device)
        notes += unreachableChannels(manager_.channels(), *choice.device);
    // Still waiting while the device changes: the change is the setup's, not the user's.
    if (!choice.device || manager_.selectedDevice() != choice.device)
        manager_.selectDevice(choice.device);
    else
        manager_.clampChannels(*choice.device);
    disconnect(&manager_, nullptr, this, nullptr);
    if (choice.standIn && choice.device) {
        standIn_ = choice.device->uid;
        // Another device chosen (by the user, or one that replaced it): the setup's device is given up.
        connect(&manager_, &AudioEngineManager::selectedDeviceChanged, this, [this] {
            if (!isWanted())
                leave();
        });
    } else {
        leave();
    }
    return notes;
}

void PendingSetupDevice::tryNow() {
    if (auto notes = resolve())
        tell_(*notes);
}

void PendingSetupDevice::leave() {
    if (!active_)
        return;
    active_ = false;
    disconnect(&manager_, nullptr, this, nullptr);
    deleteLater();
}

} // namespace corvane
