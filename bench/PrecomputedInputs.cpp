#include "bench/PrecomputedInputs.h"

#include "platform/hardware/virtual/SignalSource.h"

#include <QTemporaryDir>

#include <cstring>
#include <fstream>
#include <vector>

namespace corvane::bench {

namespace {

constexpr std::uint32_t kRate = 48000;
constexpr std::uint32_t kChannels = 8;
// 100 ms holds a whole number of cycles of every default tone (multiples of
// 200 Hz), so the loop is seamless.
constexpr std::uint32_t kFrames = kRate / 10;

// A 32-bit float WAV file of the first kChannels default tones; the device
// gives any channel past those the file's first one.
std::string writeTones(const QTemporaryDir& dir) {
    std::vector<std::vector<float>> tones(kChannels, std::vector<float>(kFrames));
    for (std::uint32_t c = 0; c < kChannels; ++c) {
        std::string error;
        auto source = hw::virt::SignalSource::make(hw::virt::SignalSource::defaultSignal(c), c, error);
        if (!source)
            return {};
        source->render(0, kRate, tones[c].data(), kFrames);
    }
    std::string file;
    const auto le = [&](std::uint32_t value, std::uint32_t bytes) {
        for (std::uint32_t i = 0; i < bytes; ++i)
            file += static_cast<char>((value >> (8 * i)) & 0xff);
    };
    const std::uint32_t dataBytes = kFrames * kChannels * 4;
    file += "RIFF";
    le(36 + dataBytes, 4);
    file += "WAVEfmt ";
    le(16, 4), le(3, 2), le(kChannels, 2), le(kRate, 4), le(kRate * kChannels * 4, 4), le(kChannels * 4, 2), le(32, 2);
    file += "data";
    le(dataBytes, 4);
    for (std::uint32_t f = 0; f < kFrames; ++f) {
        for (std::uint32_t c = 0; c < kChannels; ++c) {
            std::uint32_t raw;
            std::memcpy(&raw, &tones[c][f], sizeof raw);
            le(raw, 4);
        }
    }
    const std::string path = dir.filePath("tones.wav").toStdString();
    std::ofstream out(path, std::ios::binary);
    out << file;
    return out ? path : std::string{};
}

} // namespace

bool precomputeInputs(hw::VirtualBackend& device, const std::string& uid, std::uint32_t inputs, std::uint32_t toned) {
    static const QTemporaryDir dir;
    static std::string path;
    if (toned > 0 && path.empty() && dir.isValid())
        path = writeTones(dir);
    if (toned > 0 && path.empty())
        return false;
    for (std::uint32_t c = 0; c < inputs; ++c) {
        const hw::virt::Signal signal = c < toned ? hw::virt::Signal{hw::virt::Wav{path}} : hw::virt::Signal{hw::virt::Silence{}};
        if (!device.setInputSignal(uid, c, signal))
            return false;
    }
    return true;
}

} // namespace corvane::bench
