#pragma once
// What JACK does for a client without a latency callback, done by hand: a
// client that registers a latency callback (we do, to hear when the server's
// port latencies change, which PipeWire does some time after a new period
// size) must itself say what its ports add. Ours pass audio straight through,
// so every output port carries the largest capture latency of our input ports,
// and every input port the largest playback latency of our output ports.
//
// Threads: the session sets and clears the ports on the main thread (clearing
// before it unregisters them); recompute() runs on libjack's notification
// thread, inside the latency callback. The lock is never held across anything
// but the two port-latency calls.

#include <jack/jack.h>

#include <mutex>
#include <vector>

namespace corvane::hw {

class JackLatencyPassThrough {
public:
    void setPorts(std::vector<jack_port_t*> inputs, std::vector<jack_port_t*> outputs);
    void clear() { setPorts({}, {}); }
    void recompute(jack_latency_callback_mode_t mode);

private:
    std::mutex mutex_;
    std::vector<jack_port_t*> inputs_;
    std::vector<jack_port_t*> outputs_;
};

} // namespace corvane::hw
