#pragma once
// Finds a JACK server and keeps looking while there is none. Opening and
// closing a client talk to the server and may take a while (or much longer
// with a server that hangs), so both happen on this class's own thread, never
// on the caller's. We never start a server: a user who has none gets none.

#include <jack/jack.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace corvane::hw {

class JackConnector {
public:
    struct Settings {
        std::string clientName;
        std::string serverName; // empty: libjack's choice (JACK_DEFAULT_SERVER, else "default")
        std::chrono::milliseconds retryInterval{1000};
    };
    // Connector thread. Given a freshly opened client; returns false to reject
    // it (it is then closed and the search goes on).
    using Opened = std::function<bool(jack_client_t*)>;
    // Connector thread. After every attempt that found no usable server.
    using Failed = std::function<void()>;

    // Starts searching at once.
    JackConnector(Settings settings, Opened opened, Failed failed);
    // Stops the thread and closes the client it opened, if any.
    ~JackConnector();
    JackConnector(const JackConnector&) = delete;
    JackConnector& operator=(const JackConnector&) = delete;

    // Any thread. The client we handed out is done with (its server went
    // away): close it on the connector thread and resume searching.
    void discard(jack_client_t* client);

private:
    void run();

    const Settings settings_;
    const Opened opened_;
    const Failed failed_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    jack_client_t* current_ = nullptr;   // opened and handed out
    jack_client_t* discarded_ = nullptr; // waiting to be closed
    std::thread thread_;
};

} // namespace corvane::hw
