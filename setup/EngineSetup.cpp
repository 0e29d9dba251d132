#include "setup/EngineSetup.h"

#include "engine/AudioEngineManager.h"
#include "engine/StripPluginState.h"
#include "platform/system/Logging.h"
#include "platform/system/Task.h"
#include "plugins/PluginCatalog.h"

#include <QLocale>
#include <QPointer>

namespace corvane {

namespace {

const QString kPendingName = QStringLiteral("corvane-pending-setup-device");

QString channelsText(int first, bool stereo) {
    return stereo ? QStringLiteral("%1-%2").arg(first + 1).arg(first + 2) : QString::number(first + 1);
}

// The strips whose channels `device` does not have, as notes; the manager
// leaves those channels unset when it selects the device.
QStringList unreachableChannels(const AudioEngineManager& manager, const AudioDevice& device) {
    QStringList notes;
    for (const ChannelSlot* slot : manager.channels()) {
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

void tell(AudioEngineManager& manager, const QStringList& notes) {
    if (notes.isEmpty())
        return;
    for (const auto& note : notes)
        qCInfo(lcSession, "Setup: %s", qUtf8Printable(note));
    manager.showSetupNotes(notes);
}

// The setup's device, waiting to be chosen until the device list is whole
// (every backend has looked for its devices) and nothing plays. A child of the
// manager; a newer setup replaces it. When the setup's device is not there
// and another stands in for it, it stays while that one is selected: the setup
// still wants its own device, and says so when it is saved.
class PendingDevice : public QObject {
public:
    PendingDevice(AudioEngineManager& manager, QString uid, QString name)
        : QObject(&manager), manager_(manager), uid_(std::move(uid)), name_(std::move(name)) {
        setObjectName(kPendingName);
        // At once when the list arrives: before the manager picks its first
        // device for want of one, which would drop channels that device lacks.
        connect(&manager, &AudioEngineManager::devicesChanged, this, &PendingDevice::tryNow);
        connect(&manager, &AudioEngineManager::devicesSettledChanged, this, &PendingDevice::tryNow);
        connect(&manager, &AudioEngineManager::isRunningChanged, this, &PendingDevice::tryNow, Qt::QueuedConnection);
    }
    const QString& uid() const { return uid_; }
    const QString& name() const { return name_; }
    bool isWaiting() const { return !standIn_; }
    // Whether a setup taken now names the setup's device rather than the selected one.
    bool isWanted() const {
        const auto& selected = manager_.selectedDevice();
        return !standIn_ || !selected || selected->uid == *standIn_;
    }

    // Chooses the device if it can be chosen now, and gives its notes.
    std::optional<QStringList> resolve() {
        if (standIn_ || manager_.isRunning() || !manager_.devicesSettled() || manager_.devices().isEmpty())
            return std::nullopt;
        const DeviceChoice choice = chooseSetupDevice(uid_, name_, manager_.devices());
        QStringList notes;
        if (!choice.note.isEmpty())
            notes.append(choice.note);
        if (choice.device)
            notes += unreachableChannels(manager_, *choice.device);
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
    void tryNow() {
        if (auto notes = resolve())
            tell(manager_, *notes);
    }

private:
    void leave() {
        disconnect(&manager_, nullptr, this, nullptr);
        setObjectName(QString());
        deleteLater();
    }

    AudioEngineManager& manager_;
    QString uid_;
    QString name_;
    std::optional<QString> standIn_; // the device selected in the setup's device's place
};

// Out of line: inlined into the coroutine, g++ 12 sees null pointers that are not there.
[[gnu::noinline]] void markMissing(const QList<QPointer<ChannelSlot>>& strips, const QList<PluginComponent>& installed) {
    for (const auto& guard : strips) {
        ChannelSlot* slot = guard.data();
        if (slot && slot->hasComponent())
            slot->setComponentMissing(!installed.contains(slot->componentOrNone()));
    }
}

PendingDevice* pendingDevice(const AudioEngineManager& manager) {
    return manager.findChild<PendingDevice*>(kPendingName, Qt::FindDirectChildrenOnly);
}

} // namespace

bool setupDevicePending(const AudioEngineManager& manager) {
    const auto* pending = pendingDevice(manager);
    return pending && pending->isWaiting();
}

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

Setup captureSetup(AudioEngineManager& manager) {
    Setup setup;
    if (const auto* pending = pendingDevice(manager); pending && pending->isWanted()) {
        setup.deviceUid = pending->uid();
        setup.deviceName = pending->name();
    } else if (const auto& device = manager.selectedDevice()) {
        setup.deviceUid = device->uid;
        setup.deviceName = device->name;
    }
    setup.sampleRate = manager.sampleRate();
    if (manager.bufferFramesChosen())
        setup.bufferFrames = manager.bufferFrames();
    for (ChannelSlot* slot : manager.channels()) {
        Setup::Strip& strip = setup.strips[std::size_t(slot->id())];
        strip.inputChannel = slot->inputChannel();
        strip.inputStereo = slot->inputStereo();
        strip.outputChannel = slot->outputChannel();
        strip.outputStereo = slot->outputStereo();
        strip.bypass = slot->bypass();
        if (const auto& component = slot->component()) {
            strip.plugin = Setup::Plugin{component->uri, component->name, currentPluginState(*slot)};
        }
    }
    return setup;
}

QStringList applySetup(AudioEngineManager& manager, const ReadSetup& read, ApplyOptions options) {
    const Setup& setup = read.setup;
    QStringList notes;
    if (!read.ignoredKeys.isEmpty()) {
        // A few by name, each cut short: the note shows above the strips, and
        // a damaged or foreign file may hold any number of them, of any length.
        constexpr qsizetype kNamed = 5;
        constexpr qsizetype kLongestName = 40;
        QStringList named;
        for (const QString& key : read.ignoredKeys.mid(0, kNamed))
            named.append(key.size() > kLongestName ? key.left(kLongestName) + QStringLiteral("…") : key);
        QString ignored = named.join(QStringLiteral(", "));
        if (const qsizetype more = read.ignoredKeys.size() - kNamed; more > 0)
            ignored += QStringLiteral(" … and %1 more").arg(QLocale(QLocale::English).toString(more));
        notes.append(QStringLiteral("Entries this version does not know were ignored: %1.").arg(ignored));
    }

    if (setup.sampleRate)
        manager.setSampleRate(*setup.sampleRate);
    if (setup.bufferFrames)
        manager.setBufferFrames(*setup.bufferFrames);
    for (ChannelSlot* slot : manager.channels()) {
        const Setup::Strip& strip = setup.strips[std::size_t(slot->id())];
        if (strip.plugin) {
            slot->setComponent(PluginComponent{strip.plugin->uri, strip.plugin->name, {}, false});
            if (auto why = offerPluginState(*slot, strip.plugin->state))
                notes.append(QStringLiteral("The saved settings of “%1” on strip %2 were dropped (%3); it starts at "
                                            "its defaults.")
                                 .arg(strip.plugin->name)
                                 .arg(slot->id() + 1)
                                 .arg(*why));
        } else {
            slot->setComponent(std::nullopt);
            slot->replacePluginState(std::nullopt);
        }
        slot->setInputStereo(strip.inputStereo);
        slot->setOutputStereo(strip.outputStereo);
        slot->setInputChannel(strip.inputChannel);
        slot->setOutputChannel(strip.outputChannel);
        manager.setBypass(*slot, strip.bypass);
    }

    // Plug-ins the catalog does not list stay on their strips, marked missing
    // (Start then reports them as any plug-in that would not load).
    QList<QPointer<ChannelSlot>> withPlugin;
    for (ChannelSlot* slot : manager.channels())
        if (slot->component())
            withPlugin.append(slot);
    if (!withPlugin.isEmpty())
        spawn([](QList<QPointer<ChannelSlot>> strips) -> Async<void> {
            markMissing(strips, co_await PluginCatalog::components());
        }(withPlugin));

    delete pendingDevice(manager);
    if (options.chooseDevice && (!setup.deviceUid.isEmpty() || !setup.deviceName.isEmpty())) {
        auto* pending = new PendingDevice(manager, setup.deviceUid, setup.deviceName);
        if (auto deviceNotes = pending->resolve())
            notes += *deviceNotes;
        else if (manager.isRunning())
            notes.append(QStringLiteral("The setup takes effect at the next start."));
    } else if (options.chooseDevice) {
        if (const auto& device = manager.selectedDevice())
            notes += unreachableChannels(manager, *device);
        if (const auto& device = manager.selectedDevice(); device && !manager.isRunning())
            manager.clampChannels(*device);
    }
    tell(manager, notes);
    return notes;
}

} // namespace corvane
