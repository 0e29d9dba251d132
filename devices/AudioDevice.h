#pragma once
// One usable audio device as the engine sees it. A value type: QML reads its
// fields by name (device.name, device.inputChannels) out of a copy.

#include "platform/hardware/Properties.h"

#include <QObject>
#include <QString>
#include <cstddef>
#include <functional>

namespace corvane {

struct AudioDevice {
    Q_GADGET
    Q_PROPERTY(quint32 id MEMBER id)
    Q_PROPERTY(QString uid MEMBER uid)
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(int inputChannels MEMBER inputChannels)
    Q_PROPERTY(int outputChannels MEMBER outputChannels)
    // The device picker's entry: "Interface (8 in / 10 out)".
    Q_PROPERTY(QString label READ label)

public:
    hw::ObjectId id = hw::kNoObject; // valid only while the device is present
    QString uid;                     // persistent identifier; devices are matched by it
    QString name;
    int inputChannels = 0;
    int outputChannels = 0;

    QString label() const;

    friend bool operator==(const AudioDevice&, const AudioDevice&) = default;
};

} // namespace corvane

template <>
struct std::hash<corvane::AudioDevice> {
    std::size_t operator()(const corvane::AudioDevice& d) const noexcept {
        std::size_t h = std::hash<std::uint32_t>{}(d.id);
        auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2); };
        mix(qHash(d.uid));
        mix(qHash(d.name));
        mix(std::hash<int>{}(d.inputChannels));
        mix(std::hash<int>{}(d.outputChannels));
        return h;
    }
};

Q_DECLARE_METATYPE(corvane::AudioDevice)
