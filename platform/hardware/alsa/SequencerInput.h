#pragma once
// MIDI control for the ALSA and the virtual devices: an ALSA sequencer client
// "Corvane" with one writable port, "Corvane control", that any controller
// (a USB keyboard's port, a virtual keyboard, aconnect) can be connected to.
//
// The client is opened at the first start of I/O that wants it (or the first
// look at the sources) and kept until the program ends: connections the user
// made with other tools survive Stop and Start, and no thread is made and
// joined at every start. A reader thread sleeps in poll() on the client's
// descriptors and a stop event, turns each event into MIDI bytes and puts them
// into a ring the device's period loop drains into its control input at the
// top of every period. A machine without a sequencer (no snd-seq module, no
// /dev/snd/seq) is no fault: one log line, no sources, and the devices play on.
//
// Sources are the readable ports other clients offer (the System client's
// and our own left out), named "client:port" by their names, which stay the
// same when a controller is plugged in again and gets other numbers.
//
// Threads: everything but the reader is for the main thread.

#include "platform/hardware/ControlInput.h"
#include "platform/hardware/alsa/StopEvent.h"
#include "platform/system/MidiEventRing.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct _snd_seq snd_seq_t;

namespace corvane::hw::alsa {

class SequencerInput {
public:
    static constexpr const char* kClientName = "Corvane";
    static constexpr const char* kPortName = "Corvane control";

    // Opens nothing yet. `sequencer` is alsa-lib's name of the sequencer to
    // open; `ringCapacity` how many messages may wait for the audio thread.
    explicit SequencerInput(std::string sequencer = "default", std::size_t ringCapacity = 512);
    ~SequencerInput();
    SequencerInput(const SequencerInput&) = delete;
    SequencerInput& operator=(const SequencerInput&) = delete;

    // Where the port's messages go from the next start of I/O on; null: nowhere.
    // It must outlive that I/O.
    void setControlInput(ControlInput* input);

    // Opens the client, its port and the reader at the first call; whether it
    // is open. A sequencer that cannot be opened is tried again at later
    // calls (the module may have been loaded meanwhile) and logged once.
    bool open();
    bool isOpen() const;
    // The ports that may feed ours, as "client:port"; empty without a sequencer.
    std::vector<std::string> sources();
    // The source the user chose ("" for none): connected at once while open,
    // and again at every start of I/O; the one chosen before is disconnected.
    void setSource(std::string source);

    // What a device's period loop drains, and into what, for I/O starting
    // now: opens the client and connects the chosen source if it is there.
    // No input: nothing to drain (the ring is null).
    struct Feed {
        std::shared_ptr<MidiEventRing> ring;
        ControlInput* input = nullptr;
    };
    Feed feedForStart();

    // Where the reader puts the messages (tests stand in for the reader here).
    MidiEventRing& ring() { return *ring_; }

private:
    struct Address {
        int client = -1;
        int port = -1;
    };
    // With handleMutex_ held: every port another client offers to send
    // from, by "client:port" name.
    void forEachSource(const std::function<void(const std::string&, Address)>& visit) const;
    void connect(const std::string& name, bool on);
    void read(); // the reader thread

    const std::string sequencerName_;
    const std::shared_ptr<MidiEventRing> ring_;
    ControlInput* input_ = nullptr;
    std::string source_;
    bool failureLogged_ = false;

    mutable std::mutex handleMutex_; // the handle: the reader takes it to read events, the main thread to query
    snd_seq_t* seq_ = nullptr;
    int client_ = -1;
    int port_ = -1;
    StopEvent stop_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::uint64_t> overruns_{0}; // the sequencer's own input queue overflowed
    std::thread reader_;
};

} // namespace corvane::hw::alsa
