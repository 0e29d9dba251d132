#pragma once
// A setup: everything a person set up for playing, as one value that can be
// written to a file and read back. Channels and strips are zero-based here, as
// in the model; the file counts them from 1, as the window does.

#include "engine/MidiMapping.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

namespace corvane {

struct Setup {
    static constexpr int kStripCount = 8;
    static constexpr double kMinRate = 8000;
    static constexpr double kMaxRate = 768000;
    static constexpr std::uint32_t kMinBufferFrames = 16;
    static constexpr std::uint32_t kMaxBufferFrames = 8192;
    // Far more than any device has; a larger number is a damaged file.
    static constexpr int kMaxChannel = 4096;

    struct Plugin {
        QString uri;
        QString name;
        // The plug-in's full state in LV2's textual (Turtle) form; none for
        // its defaults.
        std::optional<QByteArray> state;
        friend bool operator==(const Plugin&, const Plugin&) = default;
    };

    struct Strip {
        std::optional<int> inputChannel;
        bool inputStereo = false;
        std::optional<int> outputChannel;
        bool outputStereo = false;
        std::optional<Plugin> plugin;
        bool bypass = false;
        friend bool operator==(const Strip&, const Strip&) = default;
    };

    // The device by its persistent uid, and its name to find it by when the
    // uid is not there (a device plugged into another port may change uid).
    QString deviceUid;
    QString deviceName;
    std::optional<double> sampleRate;
    // Only a size the user chose; none leaves the device's own.
    std::optional<std::uint32_t> bufferFrames;
    std::array<Strip, kStripCount> strips{};
    // Controllers that move the strips' switches and their plug-ins' ports.
    QList<MidiMapping> midiMappings;

    friend bool operator==(const Setup&, const Setup&) = default;
};

} // namespace corvane
