// What following the selected device asks of the manager (fitting the strips,
// stopping on a lost device), and the settings applied to the device at start.
#include "engine/AudioEngineManager.h"

#include "devices/DeviceSettings.h"

#include <QPointer>
#include <cmath>

namespace corvane {

using namespace std::chrono_literals;

void AudioEngineManager::selectDeviceById(quint32 id) {
    if (id == hw::kNoObject) {
        selectDevice(std::nullopt);
        return;
    }
    for (const auto& device : devices())
        if (device.id == id) {
            selectDevice(device);
            return;
        }
}

void AudioEngineManager::refreshDeviceList() { spawn(refreshDevices()); }

void AudioEngineManager::fitStrips(const std::optional<AudioDevice>& device) {
    if (device) {
        clampChannels(*device);
        return;
    }
    for (auto* slot : channels_) {
        slot->setInputChannel(std::nullopt);
        slot->setOutputChannel(std::nullopt);
    }
}

void AudioEngineManager::selectedDeviceVanished(const AudioDevice& device) {
    // Playback counts as stopped by the loss when a configuration change of the
    // same device stopped it a moment before.
    const bool playing = isRunning_ || recovery_.interruptedDeviceUID() == device.uid;
    if (isRunning_)
        stop();
    recovery_.clearInterruption();
    // A plug-in that hung says more about what happened than the device's loss.
    if (!stallMessage_ || errorMessage_ != stallMessage_)
        setErrorMessage(playing ? QStringLiteral("“%1” was disconnected - playback was stopped.").arg(device.name)
                                : QStringLiteral("“%1” was disconnected.").arg(device.name));
}

void AudioEngineManager::clearMessages() {
    setErrorMessage(std::nullopt);
    setWarningMessage(std::nullopt);
}

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
    if (!selectedDevice()) {
        setSupportedBufferRange(std::nullopt);
        return;
    }
    supportedBufferRangeTask_.cancel();
    const hw::ObjectId id = selectedDevice()->id;
    QPointer<AudioEngineManager> self(this);
    supportedBufferRangeTask_ = spawnWith([this, self, id]() -> Async<void> {
        auto facts = co_await runDetached([hardware = &hardware_, id] {
            return std::make_pair(bufferFrameSizeRange(*hardware, id), bufferFrameSize(*hardware, id));
        });
        if (!self || !facts || co_await currentTaskCancelled())
            co_return;
        if (!selectedDevice() || selectedDevice()->id != id)
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
    const hw::ObjectId id = selectedDevice()->id;
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
