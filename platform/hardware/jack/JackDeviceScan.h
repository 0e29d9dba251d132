#pragma once
// What the JACK graph offers as devices: every client that owns physical audio
// ports (jackd2's "system", one client per card under PipeWire), with its
// capture and playback ports in natural order.

#include <jack/jack.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::hw {

struct JackDeviceInfo {
    std::string clientName;
    std::vector<std::string> capturePorts;  // full port names: the device's inputs
    std::vector<std::string> playbackPorts; // full port names: the device's outputs
    std::uint32_t captureLatency = 0;       // frames, the largest of the capture ports
    std::uint32_t playbackLatency = 0;      // frames, the largest of the playback ports
    friend bool operator==(const JackDeviceInfo&, const JackDeviceInfo&) = default;
};

// Orders names the way a person counts: "capture_2" before "capture_10".
bool naturalLess(std::string_view a, std::string_view b);

// The devices `client` sees, in the order their first port appears. `client`'s
// own ports never make a device. Any non-real-time thread; reads the server's
// shared graph, no round trip.
std::vector<JackDeviceInfo> scanJackDevices(jack_client_t* client);

} // namespace corvane::hw
