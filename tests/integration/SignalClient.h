#pragma once
// A plain JACK client on the server JACK_DEFAULT_SERVER names. Each output
// plays a Tone; the inputs are recorded on demand, with the frame time the
// recording began at, so what arrives can be compared with what was sent.
// It counts the xruns the server announces, splits the count by whether a
// watched port was connected at the time, and can cause xruns of its own by
// overrunning its process callback. Xrun and connection notices reach a client
// in the order the server sent them, so "while connected" is measured on the
// server's own timeline.
//
// Feeding and listening belong in two instances: a chain feeder -> program ->
// listener runs in one cycle, so the listener sees this cycle's samples.

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

namespace corvane::test {

// A test signal that a feeding client and a listening client can both compute
// for any absolute JACK frame time, so what arrives can be compared sample by
// sample with what was sent in the same cycle.
struct Tone {
    float amplitude = 0.0f;
    // Samples per cycle of the sine; 0 makes the tone a constant.
    std::uint32_t periodFrames = 0;

    float at(std::uint64_t frame) const {
        if (periodFrames == 0)
            return amplitude;
        // The phase comes from the frame modulo the period, so it stays exact
        // however long the server has been running.
        const double phase = static_cast<double>(frame % periodFrames) / periodFrames;
        return static_cast<float>(amplitude * std::sin(2.0 * std::numbers::pi * phase));
    }
};

class SignalClient {
public:
    // The xrun window is the time during which some port is connected to
    // `anchorPort` (e.g. "system:capture_1", which only the program under test
    // connects to). Check ok() afterwards.
    SignalClient(const std::string& name, std::vector<Tone> plays, std::size_t inputs, std::string anchorPort = {});
    ~SignalClient();
    SignalClient(const SignalClient&) = delete;
    SignalClient& operator=(const SignalClient&) = delete;

    bool ok() const { return client_ != nullptr; }
    jack_client_t* client() const { return client_; }
    std::string name() const;
    // "<name>:out_k" / "<name>:in_k", k from 1.
    std::string outputName(std::size_t k) const;
    std::string inputName(std::size_t k) const;

    bool connect(const std::string& source, const std::string& destination);
    // Full names of the ports `port` is connected to (empty if none or no such port).
    std::vector<std::string> connections(const std::string& port) const;

    // Periods this client has processed since it was activated.
    std::uint64_t periods() const { return periods_.load(); }

    // Records the next `frames` frames of every input (memory is reserved
    // here); call once. recording(k) of input k is whole once recorded().
    void record(std::size_t frames);
    bool recorded() const { return recordFrames_ > 0 && recordedFrames_.load() >= recordFrames_; }
    std::vector<float> recording(std::size_t k) const { return inputs_.at(k - 1).recording; }
    // The frame time of the recording's first sample.
    std::uint64_t recordStart() const { return recordStart_.load(); }

    // Xruns announced since activation, and while a port was connected to the
    // anchor port; how many times such a connection was made, and broken.
    int xruns() const { return xruns_.load(); }
    int xrunsWhileConnected() const { return whileConnected_.load(); }
    int connects() const { return connects_.load(); }
    int disconnects() const { return disconnects_.load(); }
    // The next process callback takes `length` (longer than a period) before
    // it returns: deliberately against the real-time rules, to cause an xrun.
    void overrun(std::chrono::microseconds length) { overrunMicros_.store(length.count()); }
    bool overrunPending() const { return overrunMicros_.load() > 0; }

    // A sample within this of the expected value counts as matching: the path
    // through unity gains must leave the signal all but untouched.
    static constexpr float kTolerance = 1e-5f;

private:
    struct InputState {
        jack_port_t* port = nullptr;
        std::vector<float> recording;
    };
    struct OutputState {
        jack_port_t* port = nullptr;
        Tone tone;
    };

    static int process(jack_nframes_t frames, void* self);
    static int onXrun(void* self);
    static void onConnect(jack_port_id_t a, jack_port_id_t b, int connect, void* self);

    jack_client_t* client_ = nullptr;
    std::vector<OutputState> outputs_;
    std::vector<InputState> inputs_;
    std::atomic<std::uint64_t> periods_{0};
    std::size_t recordFrames_ = 0;
    std::atomic<bool> recording_{false};
    std::atomic<std::size_t> recordedFrames_{0};
    std::atomic<std::uint64_t> recordStart_{0};
    const std::string anchorPort_;
    std::atomic<int> xruns_{0}, whileConnected_{0}, connected_{0}, connects_{0}, disconnects_{0};
    std::atomic<std::int64_t> overrunMicros_{0};
};

} // namespace corvane::test
