#pragma once
// A plain JACK client for the tests, on the server JACK_DEFAULT_SERVER names:
// it plays a constant on each of its outputs and remembers what last arrived on
// each of its inputs, so audio through the backend can be checked from outside.

#include <jack/jack.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace corvane::test {

class JackProbeClient {
public:
    static constexpr std::size_t kMaxPorts = 8;

    // `physical` registers the ports as physical ones, the way a sound card's
    // client does under PipeWire. Check ok() afterwards.
    JackProbeClient(const std::string& name, std::size_t inputs, std::size_t outputs, bool physical = false);
    ~JackProbeClient();
    JackProbeClient(const JackProbeClient&) = delete;
    JackProbeClient& operator=(const JackProbeClient&) = delete;

    bool ok() const { return client_ != nullptr; }
    jack_client_t* client() const { return client_; }
    std::string name() const;
    // "<name>:in_k" / "<name>:out_k", k from 1.
    std::string inputName(std::size_t k) const;
    std::string outputName(std::size_t k) const;

    // The value output k (from 1) plays from the next period on.
    void play(std::size_t k, float value) { playing_[k - 1].store(value); }
    // The first and last sample input k (from 1) received in the latest period.
    float firstHeard(std::size_t k) const { return first_[k - 1].load(); }
    float lastHeard(std::size_t k) const { return last_[k - 1].load(); }
    std::uint64_t periods() const { return periods_.load(); }

    bool connect(const std::string& source, const std::string& destination);
    bool connected(const std::string& port, const std::string& other) const;
    bool portExists(const std::string& port) const;

private:
    static int process(jack_nframes_t frames, void* self);

    jack_client_t* client_ = nullptr;
    std::array<jack_port_t*, kMaxPorts> inputs_{};
    std::array<jack_port_t*, kMaxPorts> outputs_{};
    std::size_t inputCount_ = 0;
    std::size_t outputCount_ = 0;
    std::array<std::atomic<float>, kMaxPorts> playing_{};
    std::array<std::atomic<float>, kMaxPorts> first_{};
    std::array<std::atomic<float>, kMaxPorts> last_{};
    std::atomic<std::uint64_t> periods_{0};
};

} // namespace corvane::test
