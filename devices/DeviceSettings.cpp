#include "devices/DeviceSettings.h"

namespace corvane {

using hw::Address;
using hw::Selector;

std::optional<std::uint32_t> setBufferFrameSize(hw::AudioHardware& hardware, std::uint32_t frames, hw::ObjectId device) {
    hardware.set(device, Address{Selector::BufferFrameSize}, frames);
    return bufferFrameSize(hardware, device);
}

std::optional<std::uint32_t> bufferFrameSize(const hw::AudioHardware& hardware, hw::ObjectId device) {
    return hardware.getAs<std::uint32_t>(device, Address{Selector::BufferFrameSize});
}

bool setNominalSampleRate(hw::AudioHardware& hardware, double rate, hw::ObjectId device) {
    return hardware.set(device, Address{Selector::NominalSampleRate}, rate);
}

std::optional<double> nominalSampleRate(const hw::AudioHardware& hardware, hw::ObjectId device) {
    return hardware.getAs<double>(device, Address{Selector::NominalSampleRate});
}

} // namespace corvane
