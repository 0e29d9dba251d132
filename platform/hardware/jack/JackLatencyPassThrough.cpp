#include "platform/hardware/jack/JackLatencyPassThrough.h"

#include <algorithm>

namespace corvane::hw {

void JackLatencyPassThrough::setPorts(std::vector<jack_port_t*> inputs, std::vector<jack_port_t*> outputs) {
    std::lock_guard lock(mutex_);
    inputs_ = std::move(inputs);
    outputs_ = std::move(outputs);
}

void JackLatencyPassThrough::recompute(jack_latency_callback_mode_t mode) {
    std::lock_guard lock(mutex_);
    // Capture latency flows from our inputs to our outputs, playback latency back.
    const bool capture = mode == JackCaptureLatency;
    jack_latency_range_t widest{0, 0};
    for (jack_port_t* port : capture ? inputs_ : outputs_) {
        jack_latency_range_t range{0, 0};
        jack_port_get_latency_range(port, mode, &range);
        widest.min = std::max(widest.min, range.min);
        widest.max = std::max(widest.max, range.max);
    }
    for (jack_port_t* port : capture ? outputs_ : inputs_)
        jack_port_set_latency_range(port, mode, &widest);
}

} // namespace corvane::hw
