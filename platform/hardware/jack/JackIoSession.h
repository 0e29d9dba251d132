#pragma once
// Duplex I/O on one JACK device: our client's ports wired to the device's
// physical ports, and the real-time hand-off to an IoCallback.
//
// Port names, for anyone who wants to patch into a running session: our client
// (JackBackend::clientName()) gets "in_1".."in_N", one per device input, and
// "out_1".."out_M", one per device output. Physical capture port k feeds in_k;
// out_k feeds physical playback port k. With a control input, a MIDI input
// "control" too, left for the user to connect; its events are handed over at
// the top of each period.

#include "platform/hardware/ControlInput.h"
#include "platform/hardware/IoCallback.h"
#include "platform/hardware/Properties.h"
#include "platform/hardware/jack/JackDeviceScan.h"

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvane::hw {

class JackIoSession {
public:
    // Registers the ports. Main or background thread, never the process thread.
    // The callback gets periods of at most `maxFrames` (longer ones are sliced).
    // Null, with a readable reason in `error`, on failure.
    // `control` (may be null) gets the MIDI of the control port.
    static std::unique_ptr<JackIoSession> open(jack_client_t* client, ObjectId device, const JackDeviceInfo& info,
                                               IoCallback& callback, ControlInput* control, std::uint32_t maxFrames,
                                               std::string& error);
    ~JackIoSession();
    JackIoSession(const JackIoSession&) = delete;
    JackIoSession& operator=(const JackIoSession&) = delete;

    // Wires physical ports to ours. Call once the session is published, so our
    // outputs never reach the hardware before the callback has filled them.
    bool connect(std::string& error);

    // The ports that feed our control port now, by name; and wiring each of
    // them that still exists to it again (a source that went is passed over).
    std::vector<std::string> controlSources() const;
    void connectControl(const std::vector<std::string>& sources);
    void disconnectControl(const std::string& source);

    // Disconnects and unregisters our ports. Only while the client is open and
    // the session is no longer published.
    void close();
    // The client is gone (server shut down): its ports went with it.
    void abandon() { client_ = nullptr; }

    ObjectId device() const { return device_; }
    std::uint32_t maxFrames() const { return maxFrames_; }

    // Process thread. Hands the port buffers to the callback, in slices no
    // longer than the session's maximum.
    void process(jack_nframes_t frames) noexcept;

private:
    JackIoSession(jack_client_t* client, ObjectId device, IoCallback& callback, ControlInput* control,
                  std::uint32_t maxFrames);
    // Process thread: a full fetch of the buffers `use` (null: all) names,
    // remembering which answer it was made for.
    void fetchAll(const ChannelUse* use, jack_nframes_t frames) noexcept;

    jack_client_t* client_;
    ObjectId device_;
    IoCallback& callback_;
    ControlInput* control_;
    jack_port_t* controlPort_ = nullptr;
    std::uint32_t maxFrames_;
    std::vector<std::string> captureSources_;  // physical port names, in_k's source
    std::vector<std::string> playbackTargets_; // physical port names, out_k's target
    std::vector<jack_port_t*> inputs_;
    std::vector<jack_port_t*> outputs_;
    // Filled by process(); sized before the session is published.
    std::vector<float*> inputBuffers_;
    std::vector<float*> outputBuffers_;
    std::vector<const float*> inputSlice_;
    std::vector<float*> outputSlice_;
    // Per output: frames known silent in its port buffer while unused (0 while used).
    std::vector<jack_nframes_t> silentFrames_;
    // The answer the last full fetch was made for.
    bool useKnown_ = false;
    jack_nframes_t useFrames_ = 0;
    std::uint64_t useChanges_ = 0;
};

// The one pointer the process callback reads: which session, if any, runs.
// publish() and retract() are for the main or a background thread; process()
// is the JACK process callback.
class JackProcessSlot {
public:
    void publish(JackIoSession* session) { session_.store(session); }
    // Clears the slot and returns true once the process thread is certainly not
    // inside the session it held; false when it was still inside after
    // `patience` (the callback hangs), and the session must then be kept forever.
    bool retract(std::chrono::milliseconds patience);

    // Not noexcept: libjack's cancellation of its thread unwinds through it.
    static int process(jack_nframes_t frames, void* slot);

private:
    std::atomic<JackIoSession*> session_{nullptr};
    std::atomic<int> inside_{0};
};

} // namespace corvane::hw
