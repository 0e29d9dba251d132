#include "tests/integration/XrunWitness.h"

#include <thread>

namespace corvane::test {

XrunWitness::XrunWitness(const std::string& name, std::string anchorPort) : anchorPort_(std::move(anchorPort)) {
    client_ = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
    if (!client_)
        return;
    if (jack_set_process_callback(client_, &XrunWitness::process, this) != 0 ||
        jack_set_xrun_callback(client_, &XrunWitness::onXrun, this) != 0 ||
        jack_set_port_connect_callback(client_, &XrunWitness::onConnect, this) != 0 || jack_activate(client_) != 0) {
        jack_client_close(client_);
        client_ = nullptr;
    }
}

XrunWitness::~XrunWitness() {
    if (client_)
        jack_client_close(client_);
}

void XrunWitness::overrun(int count, std::chrono::microseconds length) {
    overrunMicros_.store(length.count());
    overrunsLeft_.store(count);
}

int XrunWitness::process(jack_nframes_t, void* arg) {
    auto* self = static_cast<XrunWitness*>(arg);
    // Deliberately breaks the real-time rules: missing the deadline is the point.
    if (self->overrunsLeft_.load() > 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(self->overrunMicros_.load()));
        self->overrunsLeft_.fetch_sub(1);
    }
    return 0;
}

int XrunWitness::onXrun(void* arg) {
    auto* self = static_cast<XrunWitness*>(arg);
    self->total_.fetch_add(1);
    if (self->connected_.load() > 0)
        self->whileConnected_.fetch_add(1);
    return 0;
}

void XrunWitness::onConnect(jack_port_id_t a, jack_port_id_t b, int connect, void* arg) {
    auto* self = static_cast<XrunWitness*>(arg);
    jack_port_t* first = jack_port_by_id(self->client_, a);
    jack_port_t* second = jack_port_by_id(self->client_, b);
    if (!first || !second)
        return;
    const bool anchored =
        self->anchorPort_ == jack_port_name(first) || self->anchorPort_ == jack_port_name(second);
    if (!anchored)
        return;
    if (connect) {
        self->connected_.fetch_add(1);
        self->connects_.fetch_add(1);
    } else {
        self->connected_.fetch_sub(1);
        self->disconnects_.fetch_add(1);
    }
}

} // namespace corvane::test
