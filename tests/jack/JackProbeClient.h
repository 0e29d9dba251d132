#pragma once
// A plain JACK client for the tests, on the server JACK_DEFAULT_SERVER names:
// it looks at and wires ports as another program would, and with ports of its
// own it stands for a sound card's client.

#include <jack/jack.h>

#include <string>

namespace corvane::test {

class JackProbeClient {
public:
    // With `inputs` and `outputs` physical ports (in_k, out_k, k from 1), the
    // way a card's client registers them under PipeWire. Check ok() afterwards.
    explicit JackProbeClient(const std::string& name, std::size_t inputs = 0, std::size_t outputs = 0)
        : client_(jack_client_open(name.c_str(), JackNoStartServer, nullptr)) {
        bool ok = client_ != nullptr;
        const auto add = [&](std::size_t count, const char* prefix, unsigned long direction) {
            for (std::size_t k = 1; k <= count && ok; ++k)
                ok = jack_port_register(client_, (prefix + std::to_string(k)).c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                        direction | JackPortIsPhysical | JackPortIsTerminal, 0) != nullptr;
        };
        add(inputs, "in_", JackPortIsInput);
        add(outputs, "out_", JackPortIsOutput);
        if (client_ && (!ok || jack_activate(client_) != 0)) {
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
    // The server's frame clock, which runs on whether or not anyone plays.
    jack_nframes_t frameTime() const { return jack_frame_time(client_); }

    bool connect(const std::string& source, const std::string& destination) {
        return client_ && jack_connect(client_, source.c_str(), destination.c_str()) == 0;
    }
    bool connected(const std::string& port, const std::string& other) const {
        jack_port_t* handle = client_ ? jack_port_by_name(client_, port.c_str()) : nullptr;
        return handle && jack_port_connected_to(handle, other.c_str());
    }
    bool portExists(const std::string& port) const { return client_ && jack_port_by_name(client_, port.c_str()); }

private:
    jack_client_t* client_ = nullptr;
};

} // namespace corvane::test
