#include "ui/DevicePanel.h"

#include <cmath>

namespace corvane {

const QList<int> DevicePanel::kSampleRates{44100, 48000, 88200, 96000, 176400, 192000};
const QList<int> DevicePanel::kBufferSizes{32, 64, 128, 256, 512};

namespace {

QString hertz(double rate) { return QStringLiteral("%1 Hz").arg(std::trunc(rate), 0, 'f', 0); }

} // namespace

DevicePanel::DevicePanel(QObject* parent) : QObject(parent) {}

void DevicePanel::setManager(AudioEngineManager* manager) {
    if (manager == manager_)
        return;
    if (manager_)
        disconnect(manager_, nullptr, this, nullptr);
    manager_ = manager;
    if (manager_) {
        for (auto signal : {&AudioEngineManager::devicesChanged, &AudioEngineManager::selectedDeviceChanged,
                            &AudioEngineManager::sampleRateChanged, &AudioEngineManager::actualSampleRateChanged,
                            &AudioEngineManager::bufferFramesChanged, &AudioEngineManager::supportedBufferRangeChanged})
            connect(manager_, signal, this, &DevicePanel::changed);
    }
    emit managerChanged();
    emit changed();
}

QStringList DevicePanel::deviceLabels() const {
    QStringList labels{QStringLiteral("—")};
    if (const AudioEngineManager* m = manager_.data())
        for (const AudioDevice& device : m->devices())
            labels.append(device.label());
    return labels;
}

int DevicePanel::deviceIndex() const {
    const AudioEngineManager* m = manager_.data();
    if (!m || !m->selectedDevice())
        return 0;
    const auto& devices = m->devices();
    for (qsizetype i = 0; i < devices.size(); ++i)
        if (devices[i].id == m->selectedDevice()->id)
            return int(i) + 1;
    return 0;
}

QStringList DevicePanel::rateLabels() const {
    QStringList labels;
    for (int rate : kSampleRates)
        labels.append(hertz(rate));
    return labels;
}

int DevicePanel::rateIndex() const {
    const AudioEngineManager* m = manager_.data();
    for (qsizetype i = 0; m && i < kSampleRates.size(); ++i)
        if (kSampleRates[i] == m->sampleRate())
            return int(i);
    return -1;
}

QString DevicePanel::rateText() const {
    const AudioEngineManager* m = manager_.data();
    return m ? hertz(m->sampleRate()) : QString();
}

bool DevicePanel::rateMismatch() const {
    const AudioEngineManager* m = manager_.data();
    const double actual = m ? m->actualSampleRateOrZero() : 0.0;
    return m && actual > 0.0 && std::abs(actual - m->sampleRate()) >= 1.0;
}

int DevicePanel::bufferIndex() const {
    const AudioEngineManager* m = manager_.data();
    return m ? int(kBufferSizes.indexOf(int(m->bufferFrames()))) : -1;
}

QString DevicePanel::bufferText() const {
    const AudioEngineManager* m = manager_.data();
    return m ? QStringLiteral("%1 samples").arg(m->bufferFrames()) : QString();
}

bool DevicePanel::allowsBuffer(int size) const {
    const AudioEngineManager* m = manager_.data();
    const std::optional<BufferRange> range = m ? m->supportedBufferRange() : std::nullopt;
    return !range || (std::uint32_t(size) >= range->min && std::uint32_t(size) <= range->max);
}

QList<bool> DevicePanel::bufferAllowed() const {
    QList<bool> allowed;
    for (int size : kBufferSizes)
        allowed.append(allowsBuffer(size));
    return allowed;
}

void DevicePanel::chooseDevice(int index) {
    AudioEngineManager* m = manager_.data();
    if (!m || index < 0 || index > m->devices().size())
        return;
    m->selectDeviceById(index > 0 ? m->devices()[index - 1].id : 0);
}

void DevicePanel::chooseRate(int index) {
    if (AudioEngineManager* m = manager_.data(); m && index >= 0 && index < kSampleRates.size())
        m->setSampleRate(kSampleRates[index]);
}

void DevicePanel::chooseBuffer(int index) {
    AudioEngineManager* m = manager_.data();
    if (m && index >= 0 && index < kBufferSizes.size() && allowsBuffer(kBufferSizes[index]))
        m->setBufferFrames(std::uint32_t(kBufferSizes[index]));
}

} // namespace corvane
