#pragma once
// The property model of one virtual device: its identity, channel layout,
// latencies, period size and rate, and the faults a test has injected into it.
// Plain data, no locking: VirtualBackend guards it.

#include "platform/hardware/Properties.h"
#include "platform/hardware/virtual/DeviceSpec.h"
#include "platform/hardware/virtual/IoSession.h"
#include "platform/hardware/virtual/SignalRecording.h"
#include "platform/hardware/virtual/SignalSource.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvane::hw::virt {

inline constexpr std::uint32_t kMinBufferFrames = 16;
inline constexpr std::uint32_t kMaxBufferFrames = 4096;
inline constexpr double kMinSampleRate = 44100.0;
inline constexpr double kMaxSampleRate = 192000.0;

// Latency of one direction in frames; an empty term is an absent property.
struct DirectionLatency {
    std::optional<std::uint32_t> device = 0;
    std::optional<std::uint32_t> safetyOffset = 0;
    std::optional<std::uint32_t> stream = 0;
};

struct VirtualDevice {
    ObjectId id = kNoObject;
    std::string uid;
    std::string name;
    std::uint32_t inputs = 0;
    std::uint32_t outputs = 0;
    ObjectId inputStream = kNoObject; // kNoObject while the direction has no channel
    ObjectId outputStream = kNoObject;
    DirectionLatency inputLatency;
    DirectionLatency outputLatency;
    std::uint32_t bufferFrames = 256;
    double sampleRate = 48000.0;

    // Injected faults.
    std::vector<double> refusedRates;
    std::optional<double> reportedRate;
    std::vector<std::pair<Selector, Scope>> failedReads;

    ClockMode clockMode = ClockMode::Paced;
    std::vector<std::shared_ptr<const SignalSource>> inputSignals; // one per input
    std::optional<std::uint32_t> loopbackDelay;
    // The loopback device: every output comes back on its input this many
    // frames later than the device's own latencies and two periods account for.
    std::optional<double> loopbackBeyondEstimate;
    std::shared_ptr<SignalRecording> recording; // the last one, readable after it ends
    bool recordingActive = false;
    std::shared_ptr<IoCounters> counters = std::make_shared<IoCounters>();
    std::shared_ptr<IoSession> session; // set while I/O runs

    // Reads of the device itself, or of `object` when it is one of its streams.
    std::optional<PropertyValue> read(ObjectId object, Address address) const;
    bool owns(ObjectId object) const;

    // The default signal for every input without one; drops signals of removed inputs.
    void fitSignals();

    const DirectionLatency& latency(Scope scope) const {
        return scope == Scope::Input ? inputLatency : outputLatency;
    }
    DirectionLatency& latency(Scope scope) { return scope == Scope::Input ? inputLatency : outputLatency; }

private:
    bool readFails(Address address) const;
    std::optional<PropertyValue> readDevice(Address address) const;
};

} // namespace corvane::hw::virt
