#pragma once
// Finds a JACK server and keeps looking while there is none. Opening and
// closing a client talk to the server and may take a while (or for ever, with
// a server that hangs), so both happen on this class's own thread, never on the
// caller's. We never start a server: a user who has none gets none.

#include "platform/hardware/jack/JackServerPresence.h"

#include <jack/jack.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
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
        // After the first attempt, libjack is asked only while a server's
        // socket is there (JackServerPresence), and at this interval anyway,
        // for a server kept where we do not look.
        std::function<bool()> serverMayBeRunning = [] { return jackServerMayBeRunning(); };
        std::chrono::milliseconds blindRetryInterval{30000};
        // How long destruction waits for the thread to close its client.
        std::chrono::milliseconds closePatience{2000};
    };
    // Connector thread. Given a freshly opened client; returns false to reject
    // it (it is then closed and the search goes on).
    using Opened = std::function<bool(jack_client_t*)>;
    // Connector thread. After every attempt that found no usable server.
    using Failed = std::function<void()>;

    // Starts searching at once.
    JackConnector(Settings settings, Opened opened, Failed failed);
    // Stops the thread, which closes the client it opened, if any. A server that
    // does not answer is not waited for beyond closePatience: the thread is then
    // left to finish on its own, and neither callback is called again.
    ~JackConnector();
    JackConnector(const JackConnector&) = delete;
    JackConnector& operator=(const JackConnector&) = delete;

    // Any thread. The client we handed out is done with (its server went
    // away): close it on the connector thread and resume searching.
    void discard(jack_client_t* client);
    // Any thread. The same for a client that must never be closed: its process
    // thread hangs in our callback, and closing a client cancels that thread,
    // which a thread inside C++ code does not survive. It is left as it is.
    void forget(jack_client_t* client);

private:
    // Shared with the thread, which may outlive this object (see the destructor).
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        bool stopping = false;
        bool ended = false;
        jack_client_t* current = nullptr;   // opened and handed out
        jack_client_t* discarded = nullptr; // waiting to be closed
    };
    static void run(std::shared_ptr<State> state, Settings settings, Opened opened, Failed failed);

    const Settings settings_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::thread thread_;
};

} // namespace corvane::hw
