#pragma once
// The built-in virtual audio device: always present, the default on a machine
// without audio hardware, and what the tests run on. It starts with one device,
// "Virtual Audio Device" (uid "virtual:default", 8 in / 8 out), whose inputs
// carry generated test signals and whose outputs can be recorded or looped back
// into its inputs.
//
// Besides the Backend interface it has a control surface for tests: add,
// remove or change devices and inject faults. Control calls take a device uid,
// are meant for the main thread, and return false (or nothing) for an unknown
// uid. Everything may be called while I/O runs.
//
// MIDI control comes from the sequencer port given with setSequencer() (see
// SequencerInput.h), handed to the control input at the top of every period.

#include "platform/hardware/DeviceListBackend.h"
#include "platform/hardware/virtual/DeviceSpec.h"
#include "platform/hardware/virtual/Signal.h"
#include "platform/hardware/virtual/VirtualDevice.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvane::hw {

class VirtualBackend : public DeviceListBackend<virt::VirtualDevice> {
public:
    using DeviceSpec = virt::DeviceSpec;
    using ClockMode = virt::ClockMode;
    using Signal = virt::Signal;
    using Sine = virt::Sine;
    using Impulse = virt::Impulse;
    using Noise = virt::Noise;
    using Silence = virt::Silence;
    using Wav = virt::Wav;

    static constexpr const char* kDefaultUid = "virtual:default";
    static constexpr const char* kDefaultName = "Virtual Audio Device";
    // Listed only while CORVANE_VIRTUAL_LOOPBACK_FRAMES is set: a device with a
    // known round trip, for checking a latency measurement against.
    static constexpr const char* kLoopbackUid = "virtual:loopback";
    static constexpr const char* kLoopbackName = "Virtual Loopback Device";
    // Ids of this backend's devices and streams start here and are never reused.
    static constexpr ObjectId kFirstObjectId = 0x10000000;

    VirtualBackend();
    ~VirtualBackend() override;

    // Backend. Writable: BufferFrameSize (16..4096) and NominalSampleRate
    // (44100..192000 Hz). A write that changes either while I/O runs is
    // accepted, takes effect at the next start of I/O and also announces
    // ConfigurationChange; rewriting the current value announces nothing.
    std::string name() const override { return "virtual"; }
    std::vector<ObjectId> deviceIds() const override;
    bool owns(ObjectId object) const override;
    std::optional<PropertyValue> get(ObjectId object, Address address) const override;
    bool set(ObjectId object, Address address, const PropertyValue& value) override;
    bool startIo(ObjectId device, IoCallback& callback, std::string& error) override;

    // Devices. addDevice returns kNoObject when the uid is empty or taken.
    // changeDevice takes the name and channel counts of `spec` (not its uid);
    // the device keeps its id, and I/O already running keeps its old layout.
    ObjectId addDevice(const DeviceSpec& spec);
    bool removeDevice(const std::string& uid);
    bool changeDevice(const std::string& uid, const DeviceSpec& spec);
    std::optional<ObjectId> deviceId(const std::string& uid) const;
    // A failing list query: deviceIds() returns nothing while set.
    void failDeviceList(bool fail);

    // Faults.
    bool refuseSampleRate(const std::string& uid, double rate, bool refuse = true);
    // Writes keep succeeding but reads return `rate`; nullopt reads the written rate again.
    bool setReportedSampleRate(const std::string& uid, std::optional<double> rate);
    // get() of that property gives no value and has() is false while set.
    bool failPropertyRead(const std::string& uid, Selector selector, Scope scope, bool fail);
    // Latency terms of one direction (Input or Output) in frames; nullopt makes
    // that property absent.
    bool setLatency(const std::string& uid, Scope scope, std::optional<std::uint32_t> deviceFrames,
                    std::optional<std::uint32_t> safetyOffset, std::optional<std::uint32_t> streamLatency);
    // Counts one overload and announces it on the calling thread.
    bool forceOverload(const std::string& uid);
    bool forceReconfiguration(const std::string& uid);

    // I/O. A clock mode change while running takes effect at once.
    bool setClockMode(const std::string& uid, ClockMode mode);
    // Manual mode: runs `periods` periods on the calling thread. False when I/O
    // is not running or the device is paced.
    bool runPeriods(const std::string& uid, std::uint64_t periods);
    // Frames delivered since the last start of I/O (kept after stopIo).
    std::uint64_t framesProcessed(const std::string& uid) const;
    // Overloads since the device appeared, forced ones included.
    std::uint64_t overloadCount(const std::string& uid) const;

    // Input signals. A WAV file is decoded here, on the calling thread; a file
    // that cannot be read leaves the old signal and reports why in `error`.
    bool setInputSignal(const std::string& uid, std::uint32_t channel, const Signal& signal,
                        std::string* error = nullptr);
    // Input channel c carries output channel c delayed by `delayFrames` (at
    // least one period), instead of its signal; nullopt switches it off.
    bool setLoopback(const std::string& uid, std::optional<std::uint32_t> delayFrames);
    // Adds a device of 8 inputs and 8 outputs whose input channel c carries
    // output channel c `framesBeyondEstimate` (a fraction allowed) later than
    // the latency estimate counts: both directions' reported latencies and one
    // period each way. Read again at every start of I/O.
    ObjectId addLoopbackDevice(double framesBeyondEstimate);

    // Records the first `maxFrames` frames of every input and output channel
    // from now on (memory is reserved here). The recording stays readable after
    // stopRecording() and stopIo(), until the next startRecording().
    bool startRecording(const std::string& uid, std::uint64_t maxFrames);
    void stopRecording(const std::string& uid);
    std::vector<float> recordedInput(const std::string& uid, std::uint32_t channel) const;
    std::vector<float> recordedOutput(const std::string& uid, std::uint32_t channel) const;

private:
    using Events = std::vector<std::pair<ObjectId, Address>>;

    using DeviceListBackend::find;
    virt::VirtualDevice* find(const std::string& uid);
    const virt::VirtualDevice* find(const std::string& uid) const;
    const virt::VirtualDevice* findOwner(ObjectId object) const;
    ObjectId nextId() { return nextId_++; }
    // Gives a direction a stream while it has channels, and drops it when not.
    void fitStreams(virt::VirtualDevice& device);
    std::shared_ptr<virt::SignalRecording> recordingOf(const std::string& uid) const;
    void announce(const Events& events) const;

    ObjectId nextId_ = kFirstObjectId; // guarded by mutex_, like the device list
    std::atomic<bool> listFails_{false};
};

} // namespace corvane::hw
