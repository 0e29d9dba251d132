#pragma once
// A JACK client that counts the xruns the server announces, splits the count
// by whether a watched port was connected at the time, and can cause xruns of
// its own by overrunning its process callback.
//
// Xrun and connection notices reach a client in the order the server sent
// them, so "while connected" is measured on the server's own timeline.

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <string>

namespace corvane::test {

class XrunWitness {
public:
    // Counts every xrun from activation on; the window is the time during
    // which some port is connected to `anchorPort` (e.g. "system:capture_1",
    // which only the program under test connects to). Check ok().
    XrunWitness(const std::string& name, std::string anchorPort);
    ~XrunWitness();
    XrunWitness(const XrunWitness&) = delete;
    XrunWitness& operator=(const XrunWitness&) = delete;

    bool ok() const { return client_ != nullptr; }

    // Xruns announced since activation.
    int total() const { return total_.load(); }
    // Xruns announced while another client's port was connected to the anchor port.
    int whileConnected() const { return whileConnected_.load(); }
    // How many times such a connection was made, and broken.
    int connects() const { return connects_.load(); }
    int disconnects() const { return disconnects_.load(); }

    // The next `count` process callbacks each take `length` (longer than a
    // period) before they return.
    void overrun(int count, std::chrono::microseconds length);
    int overrunsPending() const { return overrunsLeft_.load(); }

private:
    static int process(jack_nframes_t frames, void* self);
    static int onXrun(void* self);
    static void onConnect(jack_port_id_t a, jack_port_id_t b, int connect, void* self);

    jack_client_t* client_ = nullptr;
    const std::string anchorPort_;
    std::atomic<int> total_{0};
    std::atomic<int> whileConnected_{0};
    std::atomic<int> connected_{0};
    std::atomic<int> connects_{0};
    std::atomic<int> disconnects_{0};
    std::atomic<int> overrunsLeft_{0};
    std::atomic<std::int64_t> overrunMicros_{0};
};

} // namespace corvane::test
