#include "tests/integration/SignalClient.h"

#include <algorithm>
#include <cmath>
#include <thread>

namespace corvane::test {

SignalClient::SignalClient(const std::string& name, std::vector<Tone> plays, std::size_t inputs, std::string anchorPort)
    : anchorPort_(std::move(anchorPort)) {
    client_ = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
    if (!client_)
        return;
    bool registered = true;
    for (std::size_t k = 0; k < plays.size(); ++k) {
        jack_port_t* port = jack_port_register(client_, ("out_" + std::to_string(k + 1)).c_str(),
                                               JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        outputs_.push_back(OutputState{port, plays[k]});
        registered = registered && port;
    }
    for (std::size_t k = 0; k < inputs; ++k) {
        inputs_.push_back(InputState{jack_port_register(client_, ("in_" + std::to_string(k + 1)).c_str(),
                                                        JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0), {}});
        registered = registered && inputs_.back().port;
    }
    if (!registered || jack_set_process_callback(client_, &SignalClient::process, this) != 0 ||
        jack_set_xrun_callback(client_, &SignalClient::onXrun, this) != 0 ||
        jack_set_port_connect_callback(client_, &SignalClient::onConnect, this) != 0 || jack_activate(client_) != 0) {
        jack_client_close(client_);
        client_ = nullptr;
    }
}

SignalClient::~SignalClient() {
    if (client_)
        jack_client_close(client_);
}

std::string SignalClient::name() const { return client_ ? jack_get_client_name(client_) : ""; }

std::string SignalClient::outputName(std::size_t k) const { return name() + ":out_" + std::to_string(k); }

std::string SignalClient::inputName(std::size_t k) const { return name() + ":in_" + std::to_string(k); }

bool SignalClient::connect(const std::string& source, const std::string& destination) {
    return client_ && jack_connect(client_, source.c_str(), destination.c_str()) == 0;
}

std::vector<std::string> SignalClient::connections(const std::string& port) const {
    std::vector<std::string> names;
    jack_port_t* handle = client_ ? jack_port_by_name(client_, port.c_str()) : nullptr;
    if (!handle)
        return names;
    if (const char** list = jack_port_get_all_connections(client_, handle)) {
        for (const char** p = list; *p; ++p)
            names.emplace_back(*p);
        jack_free(list);
    }
    return names;
}

void SignalClient::record(std::size_t frames) {
    for (auto& input : inputs_)
        input.recording.assign(frames, 0.0f);
    recordFrames_ = frames;
    recording_.store(true);
}

int SignalClient::process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<SignalClient*>(arg);
    if (const auto micros = self->overrunMicros_.exchange(0))
        std::this_thread::sleep_for(std::chrono::microseconds(micros));
    // Every client in a cycle sees the same frame time: it is what ties the
    // listener's expectation to the feeder's samples.
    const std::uint64_t start = jack_last_frame_time(self->client_);
    for (auto& output : self->outputs_) {
        auto* out = static_cast<float*>(jack_port_get_buffer(output.port, frames));
        for (jack_nframes_t i = 0; i < frames; ++i)
            out[i] = output.tone.at(start + i);
    }
    if (self->recording_.load()) {
        const std::size_t at = self->recordedFrames_.load();
        if (at == 0)
            self->recordStart_.store(start);
        const std::size_t count = std::min<std::size_t>(frames, self->recordFrames_ - at);
        for (auto& input : self->inputs_) {
            const auto* in = static_cast<const float*>(jack_port_get_buffer(input.port, frames));
            std::copy(in, in + count, input.recording.begin() + static_cast<std::ptrdiff_t>(at));
        }
        self->recordedFrames_.store(at + count);
        if (at + count >= self->recordFrames_)
            self->recording_.store(false);
    }
    self->periods_.fetch_add(1);
    return 0;
}

int SignalClient::onXrun(void* arg) {
    auto* self = static_cast<SignalClient*>(arg);
    self->xruns_.fetch_add(1);
    if (self->connected_.load() > 0)
        self->whileConnected_.fetch_add(1);
    return 0;
}

void SignalClient::onConnect(jack_port_id_t a, jack_port_id_t b, int connect, void* arg) {
    auto* self = static_cast<SignalClient*>(arg);
    jack_port_t* first = jack_port_by_id(self->client_, a);
    jack_port_t* second = jack_port_by_id(self->client_, b);
    if (!first || !second ||
        (self->anchorPort_ != jack_port_name(first) && self->anchorPort_ != jack_port_name(second)))
        return;
    self->connected_.fetch_add(connect ? 1 : -1);
    (connect ? self->connects_ : self->disconnects_).fetch_add(1);
}

} // namespace corvane::test
