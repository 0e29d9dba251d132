#include "platform/hardware/jack/JackDeviceScan.h"

#include <algorithm>
#include <cctype>
#include <memory>

namespace corvane::hw {

namespace {

bool isDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

struct PortListDeleter {
    void operator()(const char** ports) const { jack_free(static_cast<void*>(ports)); }
};

// A client name may itself contain ':' (PipeWire names clients after cards), so
// the owner is what precedes the port's short name, not what precedes the first ':'.
std::string ownerOf(jack_port_t* port, const std::string& fullName) {
    const std::string shortName = jack_port_short_name(port);
    if (fullName.size() > shortName.size() + 1 && fullName.ends_with(shortName))
        return fullName.substr(0, fullName.size() - shortName.size() - 1);
    return fullName.substr(0, fullName.find(':'));
}

std::uint32_t maxLatency(jack_port_t* port, jack_latency_callback_mode_t mode) {
    jack_latency_range_t range{0, 0};
    jack_port_get_latency_range(port, mode, &range);
    return range.max;
}

} // namespace

bool naturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && isDigit(a[endA]))
                ++endA;
            while (endB < b.size() && isDigit(b[endB]))
                ++endB;
            // Compare the numbers by value without converting: strip leading
            // zeros, then the longer digit run is the larger number.
            auto numA = a.substr(i, endA - i);
            auto numB = b.substr(j, endB - j);
            numA.remove_prefix(std::min(numA.find_first_not_of('0'), numA.size()));
            numB.remove_prefix(std::min(numB.find_first_not_of('0'), numB.size()));
            if (numA.size() != numB.size())
                return numA.size() < numB.size();
            if (numA != numB)
                return numA < numB;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

std::vector<JackDeviceInfo> scanJackDevices(jack_client_t* client) {
    std::vector<JackDeviceInfo> devices;
    if (!client)
        return devices;
    const std::string ownName = jack_get_client_name(client);

    auto collect = [&](unsigned long flags, bool capture) {
        std::unique_ptr<const char*, PortListDeleter> names(
            jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, flags | JackPortIsPhysical));
        if (!names)
            return;
        for (const char** name = names.get(); *name; ++name) {
            jack_port_t* port = jack_port_by_name(client, *name);
            if (!port)
                continue; // unregistered between the listing and now
            const std::string fullName = *name;
            const std::string owner = ownerOf(port, fullName);
            if (owner == ownName)
                continue;
            auto it = std::find_if(devices.begin(), devices.end(),
                                   [&](const JackDeviceInfo& d) { return d.clientName == owner; });
            if (it == devices.end()) {
                devices.push_back(JackDeviceInfo{owner, {}, {}, 0, 0});
                it = devices.end() - 1;
            }
            if (capture) {
                it->capturePorts.push_back(fullName);
                it->captureLatency = std::max(it->captureLatency, maxLatency(port, JackCaptureLatency));
            } else {
                it->playbackPorts.push_back(fullName);
                it->playbackLatency = std::max(it->playbackLatency, maxLatency(port, JackPlaybackLatency));
            }
        }
    };
    // A physical port that is a JACK output delivers what the hardware captured.
    collect(JackPortIsOutput, true);
    collect(JackPortIsInput, false);

    for (auto& device : devices) {
        std::sort(device.capturePorts.begin(), device.capturePorts.end(), naturalLess);
        std::sort(device.playbackPorts.begin(), device.playbackPorts.end(), naturalLess);
    }
    return devices;
}

} // namespace corvane::hw
