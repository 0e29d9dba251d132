#include "engine/SetupExchange.h"

#include "engine/AudioEngineManager.h"
#include "engine/ChannelSlot.h"
#include "platform/lv2/HostedEffect.h"
#include "platform/lv2/StateText.h"
#include "platform/system/Logging.h"
#include "platform/system/Task.h"
#include "plugins/PluginCatalog.h"

namespace corvane {

namespace {

// The settings a setup taken now holds: the loaded effect's own, else those
// kept from the last stop.
std::optional<QByteArray> currentPluginState(const ChannelSlot& slot) {
    if (auto* effect = slot.effect())
        if (auto live = effect->saveState())
            return QByteArray::fromStdString(*live);
    return slot.lastPluginState();
}

// Gives the strip's chosen effect settings for its next build. Text that is
// not that effect's state is refused: the strip keeps none, and why is said.
std::optional<QString> offerPluginState(ChannelSlot& slot, std::optional<QByteArray> state) {
    // Checked before anything else reads it: settings that nest without end
    // would crash the reader.
    std::string why;
    if (state && slot.component() &&
        !lv2::isStateOf(state->toStdString(), slot.component()->uri.toStdString(), why)) {
        slot.replacePluginState(std::nullopt);
        return QString::fromStdString(why);
    }
    slot.replacePluginState(std::move(state));
    return std::nullopt;
}

// Out of line: inlined into the coroutine, g++ 12 sees null pointers that are not there.
[[gnu::noinline]] void markMissing(const QList<QPointer<ChannelSlot>>& strips, const QList<PluginComponent>& installed) {
    for (const auto& guard : strips) {
        ChannelSlot* slot = guard.data();
        if (slot && slot->hasComponent())
            slot->setComponentMissing(!installed.contains(slot->componentOrNone()));
    }
}

} // namespace

SetupExchange::SetupExchange(AudioEngineManager& manager) : QObject(&manager), manager_(manager) {
    noteDevice();
    watch();
}

void SetupExchange::watch() {
    for (ChannelSlot* slot : manager_.channels()) {
        for (auto signal : {&ChannelSlot::componentChanged, &ChannelSlot::bypassChanged,
                            &ChannelSlot::inputChannelChanged, &ChannelSlot::outputChannelChanged,
                            &ChannelSlot::inputStereoChanged, &ChannelSlot::outputStereoChanged})
            connect(slot, signal, this, &SetupExchange::changed);
    }
    connect(&manager_.midiControl(), &MidiControl::mappingsChanged, this, &SetupExchange::changed);
    connect(&manager_, &AudioEngineManager::sampleRateChanged, this, &SetupExchange::changed);
    connect(&manager_, &AudioEngineManager::bufferFramesChanged, this, [this] {
        // The device's own size, taken as the request, is no choice of the user's.
        if (manager_.bufferFramesChosen())
            changed();
    });
    connect(&manager_, &AudioEngineManager::selectedDeviceChanged, this, [this] {
        // A device that went away is still the one wanted; one that came
        // back, or was chosen for the setup, changes nothing.
        const auto& device = manager_.selectedDevice();
        if (!device || (device->uid == deviceUid_ && device->name == deviceName_))
            return;
        const bool chosenByUser = !giving_ && !devicePending();
        noteDevice();
        if (chosenByUser)
            emit edited();
        else
            emit moved();
    });
    connect(&manager_, &AudioEngineManager::isRunningChanged, this, [this] {
        if (!manager_.isRunning())
            emit moved();
    });
}

bool SetupExchange::devicePending() const {
    const PendingSetupDevice* pending = pending_.data();
    return pending && pending->isWaiting();
}

void SetupExchange::changed() {
    if (!giving_ && !devicePending())
        emit edited();
}

void SetupExchange::noteDevice() {
    if (const auto& device = manager_.selectedDevice()) {
        deviceUid_ = device->uid;
        deviceName_ = device->name;
    }
}

void SetupExchange::showNotes(const QStringList& notes) { manager_.showSetupNotes(notes); }

void SetupExchange::tell(const QStringList& notes) {
    for (const auto& note : notes)
        qCInfo(lcSession, "Setup: %s", qUtf8Printable(note));
    showNotes(notes);
}

Setup SetupExchange::capture() const {
    Setup setup;
    if (const PendingSetupDevice* pending = pending_.data(); pending && pending->isWanted()) {
        setup.deviceUid = pending->uid();
        setup.deviceName = pending->name();
    } else if (const auto& device = manager_.selectedDevice()) {
        setup.deviceUid = device->uid;
        setup.deviceName = device->name;
    } else {
        setup.deviceUid = deviceUid_;
        setup.deviceName = deviceName_;
    }
    setup.sampleRate = manager_.sampleRate();
    if (manager_.bufferFramesChosen())
        setup.bufferFrames = manager_.bufferFrames();
    for (ChannelSlot* slot : manager_.channels()) {
        Setup::Strip& strip = setup.strips[std::size_t(slot->id())];
        strip.inputChannel = slot->inputChannel();
        strip.inputStereo = slot->inputStereo();
        strip.outputChannel = slot->outputChannel();
        strip.outputStereo = slot->outputStereo();
        strip.bypass = slot->bypass();
        if (const auto& component = slot->component())
            strip.plugin = Setup::Plugin{component->uri, component->name, currentPluginState(*slot)};
    }
    setup.midiMappings = manager_.midiControl().mappings();
    return setup;
}

QStringList SetupExchange::give(const Setup& setup, QStringList notes, bool chooseDevice) {
    // What was said about the setup before is no longer about the strips.
    manager_.showSetupNotes({});
    giving_ = true;
    deviceUid_ = setup.deviceUid;
    deviceName_ = setup.deviceName;
    if (setup.sampleRate)
        manager_.setSampleRate(*setup.sampleRate);
    if (setup.bufferFrames)
        manager_.setBufferFrames(*setup.bufferFrames);
    for (ChannelSlot* slot : manager_.channels()) {
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
        manager_.setBypass(*slot, strip.bypass);
    }
    manager_.midiControl().setMappings(setup.midiMappings);

    // Plug-ins the catalog does not list stay on their strips, marked missing
    // (Start then reports them as any plug-in that would not load).
    QList<QPointer<ChannelSlot>> withPlugin;
    for (ChannelSlot* slot : manager_.channels())
        if (slot->component())
            withPlugin.append(slot);
    if (!withPlugin.isEmpty())
        spawn([](QList<QPointer<ChannelSlot>> strips) -> Async<void> {
            markMissing(strips, co_await PluginCatalog::components());
        }(withPlugin));

    if (PendingSetupDevice* earlier = pending_.data())
        earlier->leave();
    if (chooseDevice && (!setup.deviceUid.isEmpty() || !setup.deviceName.isEmpty())) {
        auto* pending = new PendingSetupDevice(
            manager_, setup.deviceUid, setup.deviceName, [this](const QStringList& later) { tell(later); }, this);
        pending_ = pending;
        if (auto deviceNotes = pending->resolve())
            notes += *deviceNotes;
        else if (manager_.isRunning())
            notes.append(QStringLiteral("The setup takes effect at the next start."));
    } else if (chooseDevice) {
        if (const auto& device = manager_.selectedDevice())
            notes += unreachableChannels(manager_.channels(), *device);
        if (const auto& device = manager_.selectedDevice(); device && !manager_.isRunning())
            manager_.clampChannels(*device);
    }
    giving_ = false;
    if (!notes.isEmpty())
        tell(notes);
    return notes;
}

} // namespace corvane
