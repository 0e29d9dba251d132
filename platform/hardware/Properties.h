#pragma once
// The audio hardware object model: objects (the system, devices, streams) with
// properties addressed by selector / scope / element, read and written as typed
// values. A failed read is "no value"; callers substitute their own default.

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace corvane::hw {

using ObjectId = std::uint32_t;
inline constexpr ObjectId kNoObject = 0;
inline constexpr ObjectId kSystemObject = 1;

constexpr std::uint32_t fourCC(const char (&code)[5]) {
    return (std::uint32_t(std::uint8_t(code[0])) << 24) | (std::uint32_t(std::uint8_t(code[1])) << 16) |
           (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

enum class Selector : std::uint32_t {
    Devices = fourCC("dev#"),              // system: device ids (listener: list changed)
    Name = fourCC("lnam"),                 // device: display name
    Uid = fourCC("uid "),                  // device: persistent identifier
    StreamConfiguration = fourCC("slay"),  // device, in/out scope: channels per buffer
    Streams = fourCC("stm#"),              // device, in/out scope: stream ids
    Latency = fourCC("ltnc"),              // device in/out scope, or stream global scope: frames
    SafetyOffset = fourCC("saft"),         // device, in/out scope: frames
    BufferFrameSizeRange = fourCC("fsz#"), // device: supported buffer sizes
    BufferFrameSize = fourCC("fsiz"),      // device: frames per period (write, read back)
    NominalSampleRate = fourCC("nsrt"),    // device: Hz (write reports acceptance)
    Overload = fourCC("over"),             // device: listener only, one call per I/O deadline miss
    // Listener only: the device changed its configuration underneath its users
    // (a rate, channel layout or period size set by someone else, a driver reset).
    ConfigurationChange = fourCC("cfg!"),
};

enum class Scope : std::uint32_t {
    Global = fourCC("glob"),
    Input = fourCC("inpt"),
    Output = fourCC("outp"),
};

struct Address {
    Selector selector;
    Scope scope = Scope::Global;
    std::uint32_t element = 0;
    friend bool operator==(const Address&, const Address&) = default;
};

struct ValueRange {
    double minimum = 0;
    double maximum = 0;
    friend bool operator==(const ValueRange&, const ValueRange&) = default;
};

// Channel count of each buffer of one direction's stream configuration.
struct StreamConfiguration {
    std::vector<std::uint32_t> bufferChannels;
    friend bool operator==(const StreamConfiguration&, const StreamConfiguration&) = default;
};

using PropertyValue = std::variant<std::uint32_t,            // frames, counts
                                   double,                   // Hz
                                   std::string,              // names, uids (UTF-8)
                                   std::vector<ObjectId>,    // device and stream lists
                                   StreamConfiguration,      // 'slay'
                                   std::vector<ValueRange>>; // 'fsz#'

} // namespace corvane::hw
