#include "tests/jack/JackProbeClient.h"

#include <algorithm>

namespace corvane::test {

JackProbeClient::JackProbeClient(const std::string& name, std::size_t inputs, std::size_t outputs, bool physical)
    : inputCount_(std::min(inputs, kMaxPorts)), outputCount_(std::min(outputs, kMaxPorts)) {
    client_ = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
    if (!client_)
        return;
    const unsigned long extra = physical ? (JackPortIsPhysical | JackPortIsTerminal) : 0;
    bool registered = true;
    for (std::size_t k = 0; k < inputCount_; ++k) {
        inputs_[k] = jack_port_register(client_, ("in_" + std::to_string(k + 1)).c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                        JackPortIsInput | extra, 0);
        registered = registered && inputs_[k];
    }
    for (std::size_t k = 0; k < outputCount_; ++k) {
        outputs_[k] = jack_port_register(client_, ("out_" + std::to_string(k + 1)).c_str(),
                                         JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput | extra, 0);
        registered = registered && outputs_[k];
    }
    if (!registered || jack_set_process_callback(client_, &JackProbeClient::process, this) != 0 ||
        jack_activate(client_) != 0) {
        jack_client_close(client_);
        client_ = nullptr;
    }
}

JackProbeClient::~JackProbeClient() {
    if (client_)
        jack_client_close(client_);
}

std::string JackProbeClient::name() const { return client_ ? jack_get_client_name(client_) : ""; }

std::string JackProbeClient::inputName(std::size_t k) const { return name() + ":in_" + std::to_string(k); }

std::string JackProbeClient::outputName(std::size_t k) const { return name() + ":out_" + std::to_string(k); }

bool JackProbeClient::connect(const std::string& source, const std::string& destination) {
    return client_ && jack_connect(client_, source.c_str(), destination.c_str()) == 0;
}

bool JackProbeClient::connected(const std::string& port, const std::string& other) const {
    jack_port_t* handle = client_ ? jack_port_by_name(client_, port.c_str()) : nullptr;
    return handle && jack_port_connected_to(handle, other.c_str());
}

bool JackProbeClient::portExists(const std::string& port) const {
    return client_ && jack_port_by_name(client_, port.c_str()) != nullptr;
}

int JackProbeClient::process(jack_nframes_t frames, void* arg) {
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

} // namespace corvane::test
