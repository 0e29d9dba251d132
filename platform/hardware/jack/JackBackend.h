#pragma once
// Audio devices from a JACK server (jackd2, or PipeWire through its libjack).
//
// A device is a JACK client that owns physical audio ports; its uid is
// "jack:" + that client's name, its inputs are its physical capture ports and
// its outputs its physical playback ports, in natural order. The sample rate is
// the server's (a write of any other rate is refused); the period size is the
// server's buffer size, which a write asks the server to change.
//
// We connect on a thread of our own, with JackNoStartServer: no server is ever
// started on the user's behalf. While none is reachable we retry every
// retryInterval; a server that goes away takes its devices with it and the
// search resumes. Device ids come from 0x20000000 upwards and are never reused:
// a device that returns with a restarted server gets a new id.
//
// The period size is shared by every client of the server. A size change, ours
// or anyone's (another client, jack_bufsize, PipeWire's quantum, which PipeWire
// applies up to seconds after it was asked for), is no reconfiguration: it is
// announced as a change of BufferFrameSize, and the callback simply gets
// periods of the new size (the graph is prepared for the largest). Only a new
// sample rate is a ConfigurationChange.
//
// Latency: JACK puts the buffering itself into the physical ports' latency (at
// a 256-frame period, capture [256 256] and playback [512 512]). The device's
// own latency is what the ports add beyond one period, never below zero.
// PipeWire updates its ports' latencies some time after a new period size, and
// says so only to clients with a latency callback (which would then have to
// pass latencies through by hand, and which its libjack can deadlock against a
// jack_connect on another thread); so for a few seconds after a new size the
// ports are read again every 100 ms instead.
//
// Threads: JACK calls us on its own threads; those callbacks behave like signal
// handlers (JACK's rule): they set a flag and wake the main thread through an
// eventfd, where the device list is rebuilt and listeners are told. The main
// thread's event loop must therefore run for the list to appear. Construct and
// destroy the backend on the main thread.
//
// I/O: see JackIoSession.h for the names of the ports a session registers on
// our client (clientName() + ":in_1".., ":out_1"..; ":control" for MIDI). One
// device at a time runs I/O.

#include "platform/hardware/Backend.h"
#include "platform/hardware/jack/JackDeviceScan.h"
#include "platform/hardware/jack/JackIoSession.h"
#include "platform/system/MainThreadWakeup.h"

#include <QTimer>

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace corvane::hw {

class JackConnector;

class JackBackend final : public Backend {
public:
    struct Options {
        std::chrono::milliseconds retryInterval{1000};
        // Empty: the server libjack picks (JACK_DEFAULT_SERVER, else "default").
        std::string serverName;
        // What we ask to be called; JACK appends a suffix when it is taken.
        std::string clientName = "corvane";
    };

    JackBackend();
    explicit JackBackend(Options options);
    ~JackBackend() override;

    std::string name() const override { return "jack"; }
    std::vector<ObjectId> deviceIds() const override;
    bool owns(ObjectId object) const override;
    // True once the first connection attempt has finished, either way (on
    // success, once the device list has been built on the main thread).
    bool isSettled() const override { return settled_.load(); }
    std::optional<PropertyValue> get(ObjectId object, Address address) const override;
    bool set(ObjectId object, Address address, const PropertyValue& value) override;
    bool startIo(ObjectId device, IoCallback& callback, std::string& error) override;
    bool stopIo(ObjectId device, std::chrono::milliseconds patience) override;

    // Main thread: where the MIDI of our "control" port goes, from the next
    // startIo() on (none: no such port). It must outlive that I/O.
    void setControlInput(ControlInput* input) {
        std::lock_guard lock(mutex_);
        controlInput_ = input;
    }

    // Main thread: the server's MIDI outputs a controller may feed our
    // control port from (our own client's left out); empty while not connected.
    std::vector<std::string> midiSources() const;
    // Main thread: the one the user chose to feed the control port, wired at
    // once while I/O runs and again at every start; "" for none, which unwires
    // the one chosen before. Ports the user wired by other means stay as they are.
    void setControlSource(std::string source);

    bool isConnected() const;
    // Our client's name on the server ("" while not connected).
    std::string clientName() const;
    // Xruns the server reported while I/O ran.
    std::uint64_t xrunCount() const { return relay_->xruns.load(); }

    static constexpr ObjectId kFirstId = 0x20000000;
    static constexpr ObjectId kIdRangeEnd = 0x30000000;
    // The longest period JACK runs; the top of every device's buffer-size range.
    static constexpr std::uint32_t kMaxPeriodFrames = 8192;

private:
    struct Device {
        ObjectId id;
        JackDeviceInfo info;
    };
    // What JACK's threads tell the main thread, as bits of Relay::pending.
    enum Event : unsigned { Graph = 1, BufferSize = 2, SampleRate = 4, Xrun = 8, Shutdown = 16, Settled = 32 };

    // All that JACK's threads touch (signal-handler rules: flags, a count and a
    // wake-up), apart from the backend: a client left behind keeps calling
    // into it after the backend is gone, so it is then kept for good.
    struct Relay {
        std::atomic<unsigned> pending{0};
        std::atomic<std::uint64_t> xruns{0};
        std::atomic<bool> ioRunning{false};
        std::shared_ptr<WakeupSignal> wakeup;
        void raise(Event event) noexcept;
    };

    // Connector thread.
    bool configure(jack_client_t* client);
    // JACK threads.
    static void onClientRegistration(const char*, int, void* relay);
    static void onPortRegistration(jack_port_id_t, int, void* relay);
    static int onBufferSize(jack_nframes_t, void* relay);
    static int onSampleRate(jack_nframes_t, void* relay);
    static int onXrun(void* relay);
    static void onShutdown(void* relay);
    static void onInfoShutdown(jack_status_t, const char*, void* relay);
    // Main thread.
    void adopt(jack_client_t* client);
    void handleEvents();
    void rescan();
    void checkSampleRate();
    // The server went away, or (`hung`) our process thread hangs in the
    // callback and the client is given up for good.
    void lose(bool hung = false);
    // Main thread: takes the session out of the process callback; false when
    // the callback hangs, and then everything that thread touches is kept.
    bool retract(std::unique_ptr<JackIoSession>& session, std::chrono::milliseconds patience);

    const Device* findDevice(ObjectId id) const; // with mutex_ held

    const Options options_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0); // posted work runs only while it lives
    std::atomic<bool> settled_{false};
    MainThreadWakeup wakeup_{[this] { handleEvents(); }};
    std::shared_ptr<Relay> relay_ = std::make_shared<Relay>();
    QTimer latencyWatch_;             // main thread: reads port latencies again after a new period size
    int latencyWatchTicks_ = 0;       // main thread
    bool relayLeftBehind_ = false;    // main thread: a forgotten client still calls into relay_
    std::uint64_t xrunsReported_ = 0; // main thread

    mutable std::mutex mutex_; // guards everything below; never taken by JACK threads
    jack_client_t* client_ = nullptr;
    std::vector<Device> devices_;
    std::uint32_t scannedBufferSize_ = 0; // the period size the port latencies were read at
    ObjectId nextId_ = kFirstId;
    std::unique_ptr<JackIoSession> session_;
    ControlInput* controlInput_ = nullptr;
    // What fed the control port when I/O last stopped: a Stop and Start, or a
    // restart after a reconfiguration, keeps the user's pedal connected.
    std::vector<std::string> controlSources_;
    std::string controlChoice_; // see setControlSource
    std::uint32_t knownSampleRate_ = 0;

    // Read by the process callback; replaced (the old one kept) when a callback hangs in it.
    std::unique_ptr<JackProcessSlot> slot_ = std::make_unique<JackProcessSlot>();
    std::unique_ptr<JackConnector> connector_; // last: its thread calls configure()
};

} // namespace corvane::hw
