#pragma once
// One level meter reading: the largest peak and rms over a stretch of audio, as
// linear amplitudes (1.0 is full scale). A value type QML reads by field name.

#include <QObject>

namespace corvane {

struct LevelReading {
    Q_GADGET
    Q_PROPERTY(float peak MEMBER peak)
    Q_PROPERTY(float rms MEMBER rms)

public:
    float peak = 0.0f;
    float rms = 0.0f;
    friend bool operator==(const LevelReading&, const LevelReading&) = default;
};

} // namespace corvane

Q_DECLARE_METATYPE(corvane::LevelReading)
