#pragma once
// A plain JACK client on the server JACK_DEFAULT_SERVER names. Each output
// plays a Tone; the inputs are recorded on demand, with the frame time the
// recording began at, so what arrives can be compared with what was sent.
//
// Feeding and listening belong in two instances: a chain feeder -> program ->
// listener runs in one cycle, so the listener sees this cycle's samples.

#include "tests/integration/Tone.h"

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane::test {

class SignalClient {
public:
    // Check ok() afterwards.
    SignalClient(const std::string& name, std::vector<Tone> plays, std::size_t inputs);
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

    jack_client_t* client_ = nullptr;
    std::vector<OutputState> outputs_;
    std::vector<InputState> inputs_;
    std::atomic<std::uint64_t> periods_{0};
    std::size_t recordFrames_ = 0;
    std::atomic<bool> recording_{false};
    std::atomic<std::size_t> recordedFrames_{0};
    std::atomic<std::uint64_t> recordStart_{0};
};

} // namespace corvane::test
