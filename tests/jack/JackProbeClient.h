#pragma once
// A plain JACK client for the tests, on the server JACK_DEFAULT_SERVER names:
// it plays a constant on each of its outputs and remembers what last arrived on
// each of its inputs, so audio through the backend can be checked from outside.

#include <jack/jack.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <string>

namespace corvane::test {

class JackProbeClient {
public:
    // `physical` registers the ports as physical ones, the way a sound card's
    // client does under PipeWire. Check ok() afterwards.
    JackProbeClient(const std::string& name, std::size_t inputs, std::size_t outputs, bool physical = false)
        : client_(jack_client_open(name.c_str(), JackNoStartServer, nullptr)),
          inputCount_(std::min(inputs, kMaxPorts)), outputCount_(std::min(outputs, kMaxPorts)) {
        if (!client_)
            return;
        const unsigned long extra = physical ? (JackPortIsPhysical | JackPortIsTerminal) : 0;
        bool registered = true;
        const auto add = [&](auto& ports, std::size_t count, const char* prefix, unsigned long flags) {
            for (std::size_t k = 0; k < count; ++k) {
                ports[k] = jack_port_register(client_, (prefix + std::to_string(k + 1)).c_str(),
                                              JACK_DEFAULT_AUDIO_TYPE, flags | extra, 0);
                registered = registered && ports[k];
            }
        };
        add(inputs_, inputCount_, "in_", JackPortIsInput);
        add(outputs_, outputCount_, "out_", JackPortIsOutput);
        if (!registered || jack_set_process_callback(client_, &JackProbeClient::process, this) != 0 ||
            jack_activate(client_) != 0) {
            jack_client_close(client_);
            client_ = nullptr;
        }
    }
    ~JackProbeClient() {
        if (client_)
            jack_client_close(client_);
    }
    JackProbeClient(const JackProbeClient&) = delete;
    JackProbeClient& operator=(const JackProbeClient&) = delete;

    bool ok() const { return client_ != nullptr; }
    jack_client_t* client() const { return client_; }
    std::string name() const { return client_ ? jack_get_client_name(client_) : ""; }
    // "<name>:in_k" / "<name>:out_k", k from 1.
    std::string inputName(std::size_t k) const { return name() + ":in_" + std::to_string(k); }
    std::string outputName(std::size_t k) const { return name() + ":out_" + std::to_string(k); }

    // The value output k (from 1) plays from the next period on.
    void play(std::size_t k, float value) { playing_[k - 1].store(value); }
    // The first and last sample input k (from 1) received in the latest period.
    float firstHeard(std::size_t k) const { return first_[k - 1].load(); }
    float lastHeard(std::size_t k) const { return last_[k - 1].load(); }
    std::uint64_t periods() const { return periods_.load(); }

    bool connect(const std::string& source, const std::string& destination) {
        return client_ && jack_connect(client_, source.c_str(), destination.c_str()) == 0;
    }
    bool connected(const std::string& port, const std::string& other) const {
        jack_port_t* handle = client_ ? jack_port_by_name(client_, port.c_str()) : nullptr;
        return handle && jack_port_connected_to(handle, other.c_str());
    }
    bool portExists(const std::string& port) const { return client_ && jack_port_by_name(client_, port.c_str()); }

private:
    static constexpr std::size_t kMaxPorts = 8;

    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<JackProbeClient*>(arg);
        for (std::size_t k = 0; k < self->inputCount_; ++k) {
            auto* in = static_cast<const float*>(jack_port_get_buffer(self->inputs_[k], frames));
            self->first_[k].store(in[0]);
            self->last_[k].store(in[frames - 1]);
        }
        for (std::size_t k = 0; k < self->outputCount_; ++k) {
            auto* out = static_cast<float*>(jack_port_get_buffer(self->outputs_[k], frames));
            std::fill(out, out + frames, self->playing_[k].load());
        }
        self->periods_.fetch_add(1);
        return 0;
    }

    jack_client_t* client_ = nullptr;
    std::array<jack_port_t*, kMaxPorts> inputs_{}, outputs_{};
    std::size_t inputCount_ = 0, outputCount_ = 0;
    std::array<std::atomic<float>, kMaxPorts> playing_{}, first_{}, last_{};
    std::atomic<std::uint64_t> periods_{0};
};

} // namespace corvane::test
