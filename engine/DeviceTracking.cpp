// Keeping the device list in step with the hardware, remembering the user's
// device, and applying the requested settings to it at start.
#include "engine/AudioEngineManager.h"

#include "devices/DeviceSettings.h"
#include "platform/system/Logging.h"

#include <QPointer>
#include <cmath>

namespace corvane {

using namespace std::chrono_literals;

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

Async<void> AudioEngineManager::refreshDevices() {
    QPointer<AudioEngineManager> self(this);
    if (deviceRefreshTask_) {
        deviceRefreshRequestedAgain_ = true;
        const Task running = deviceRefreshTask_;
        co_await running.join();
        co_return;
    }
    do {
        deviceRefreshRequestedAgain_ = false;
        deviceRefreshTask_ = spawnWith([this, self]() -> Async<void> {
            // Whether the list is whole is known before it is read, never after.
            auto listing = co_await runDetached([hardware = &hardware_] {
                const bool complete = hardware->isSettled();
                return std::make_pair(listDevices(*hardware), complete);
            });
            if (self && listing)
                deviceListChanged(listing->first, listing->second);
        });
        const Task running = deviceRefreshTask_;
        co_await running.join();
        if (!self)
            co_return;
        deviceRefreshTask_ = Task();
    } while (deviceRefreshRequestedAgain_);
}

void AudioEngineManager::deviceListChanged(const QList<AudioDevice>& list, bool complete) {
    if (uids(list) != uids(devices_))
        qCInfo(lcEngine, "Device list changed: %lld -> %lld devices", static_cast<long long>(devices_.size()),
               static_cast<long long>(list.size()));
    // Settled before the list is set: whoever waits for both sees them at once.
    const bool settling = complete && !devicesSettled_;
    if (settling) {
        devicesSettled_ = true;
        if (devicePatienceTimer_)
            clock_.cancelTimer(*std::exchange(devicePatienceTimer_, std::nullopt));
    }
    setDevices(list);
    if (settling)
        emit devicesSettledChanged();

    if (!selectedDevice_) {
        if (!preferredDeviceUID_) {
            // Not yet: a backend still looking may put its devices before these.
            if (!devicesSettled_)
                return;
            selectDevice(list.isEmpty() ? std::nullopt : std::optional<AudioDevice>(list.first()));
            return;
        }
        auto found = firstWithUid(list, *preferredDeviceUID_);
        if (!found)
            return;
        setSelectedDevice(*found);
        preferredDeviceName_ = found->name;
        clampChannels(*found);
        refreshSupportedBufferRange();
        setErrorMessage(std::nullopt);
        setWarningMessage(std::nullopt);
        return;
    }

    const AudioDevice current = *selectedDevice_;
    auto found = firstWithUid(list, current.uid);
    if (found) {
        if (*found == current)
            return;
        // Same device, new id, name or channel counts: a running engine keeps running.
        setSelectedDevice(*found);
        clampChannels(*found);
        refreshSupportedBufferRange();
        return;
    }

    qCInfo(lcEngine, "Selected device “%s” (uid %s) is missing from a device list of %lld - running: %s",
           qUtf8Printable(current.name), qUtf8Printable(current.uid), static_cast<long long>(list.size()),
           isRunning_ ? "true" : "false");
    // Playback counts as stopped by the loss when a configuration change of the
    // same device stopped it a moment before.
    const bool playing = isRunning_ || recovery_.interruptedDeviceUID() == current.uid;
    if (isRunning_)
        stop();
    recovery_.clearInterruption();
    // A plug-in that hung says more about what happened than the device's loss.
    if (!stallMessage_ || errorMessage_ != stallMessage_)
        setErrorMessage(playing ? QStringLiteral("“%1” was disconnected - playback was stopped.").arg(current.name)
                                : QStringLiteral("“%1” was disconnected.").arg(current.name));
    setSelectedDevice(std::nullopt);
    refreshSupportedBufferRange();
}

void AudioEngineManager::stopWaitingForDevices() {
    if (devicePatienceTimer_) {
        clock_.cancelTimer(*devicePatienceTimer_);
        devicePatienceTimer_.reset();
    }
    if (devicesSettled_)
        return;
    devicesSettled_ = true;
    emit devicesSettledChanged();
    // The pick the last list did not make; before any list, the first one makes it.
    if (!selectedDevice_ && !preferredDeviceUID_ && !devices_.isEmpty())
        selectDevice(devices_.first());
}

void AudioEngineManager::selectDevice(std::optional<AudioDevice> device) {
    const bool wasRunning = isRunning_;
    setSelectedDevice(device);
    preferredDeviceUID_ = device ? std::optional<QString>(device->uid) : std::nullopt;
    preferredDeviceName_ = device ? std::optional<QString>(device->name) : std::nullopt;
    setWarningMessage(std::nullopt);
    if (device) {
        clampChannels(*device);
    } else {
        for (auto* slot : channels_) {
            slot->setInputChannel(std::nullopt);
            slot->setOutputChannel(std::nullopt);
        }
    }
    refreshSupportedBufferRange();

    if (!wasRunning)
        return;
    if (!device) {
        stop();
        return;
    }
    // Restarts are serialised: each waits for the one before, none is cancelled.
    // The restart begins from the event loop, after the caller is done.
    QPointer<AudioEngineManager> self(this);
    deviceSwitchTask_ = spawnWith([this, self, previous = deviceSwitchTask_]() -> Async<void> {
        co_await yieldToEventLoop();
        co_await previous.join();
        if (self)
            co_await start(false);
    });
}

void AudioEngineManager::selectDeviceById(quint32 id) {
    if (id == hw::kNoObject) {
        selectDevice(std::nullopt);
        return;
    }
    for (const auto& device : devices_)
        if (device.id == id) {
            selectDevice(device);
            return;
        }
}

void AudioEngineManager::refreshDeviceList() { spawn(refreshDevices()); }

void AudioEngineManager::clampChannels(const AudioDevice& device) {
    for (auto* slot : channels_) {
        if (auto in = slot->inputChannel(); in && *in + (slot->inputStereo() ? 1 : 0) >= device.inputChannels)
            slot->setInputChannel(std::nullopt);
        if (auto out = slot->outputChannel();
            out && *out + (slot->outputStereo() ? 1 : 0) >= device.outputChannels)
            slot->setOutputChannel(std::nullopt);
    }
}

void AudioEngineManager::refreshSupportedBufferRange() {
    if (!selectedDevice_) {
        setSupportedBufferRange(std::nullopt);
        return;
    }
    supportedBufferRangeTask_.cancel();
    const hw::ObjectId id = selectedDevice_->id;
    QPointer<AudioEngineManager> self(this);
    supportedBufferRangeTask_ = spawnWith([this, self, id]() -> Async<void> {
        auto facts = co_await runDetached([hardware = &hardware_, id] {
            return std::make_pair(bufferFrameSizeRange(*hardware, id), bufferFrameSize(*hardware, id));
        });
        if (!self || !facts || co_await currentTaskCancelled())
            co_return;
        if (!selectedDevice_ || selectedDevice_->id != id)
            co_return;
        setSupportedBufferRange(facts->first);
        // Until the user chooses a size, the request is what the device runs now.
        if (!bufferFramesChosen_ && facts->second && *facts->second > 0)
            adoptBufferFrames(*facts->second);
    });
}

Async<bool> AudioEngineManager::prepareDevice() {
    QPointer<AudioEngineManager> self(this);
    const std::uint32_t frames = bufferFrames_;
    const double rate = sampleRate_;
    const hw::ObjectId id = selectedDevice_->id;
    hw::AudioHardware* hardware = &hardware_;

    // Only a size the user chose is written: a JACK server's period belongs to
    // everyone on it.
    const bool write = bufferFramesChosen_;
    auto actual = co_await runDetached([hardware, frames, id, write] {
        return write ? setBufferFrameSize(*hardware, frames, id) : bufferFrameSize(*hardware, id);
    });
    if (!self)
        co_return false;
    setActualBufferFrames(actual ? *actual : std::nullopt);
    if (!write && actual && *actual && **actual > 0)
        adoptBufferFrames(**actual);

    auto accepted = co_await runDetached([hardware, rate, id] { return setNominalSampleRate(*hardware, rate, id); });
    if (!self || !accepted || !*accepted)
        co_return false;

    // Give the device up to a second to report the new rate.
    const auto deadline = clock_.now() + 1s;
    while (clock_.now() < deadline) {
        auto reported = co_await runDetached([hardware, id] { return nominalSampleRate(*hardware, id); });
        if (!self)
            co_return true;
        if (reported && *reported && std::abs(**reported - rate) < 1.0)
            break;
        // A cancelled sleep would spin until the deadline; waiting on is pointless then.
        if (!co_await sleepUntil(clock_, std::min(deadline, clock_.now() + 20ms)))
            break;
    }
    co_return true;
}

} // namespace corvane
