#include "platform/hardware/jack/JackConnector.h"

namespace corvane::hw {

JackConnector::JackConnector(Settings settings, Opened opened, Failed failed)
    : settings_(std::move(settings)), opened_(std::move(opened)), failed_(std::move(failed)),
      thread_([this] { run(); }) {}

JackConnector::~JackConnector() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    if (discarded_)
        jack_client_close(discarded_);
    if (current_)
        jack_client_close(current_);
}

void JackConnector::discard(jack_client_t* client) {
    {
        std::lock_guard lock(mutex_);
        if (!client || client != current_)
            return;
        current_ = nullptr;
        discarded_ = client;
    }
    wake_.notify_all();
}

void JackConnector::run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (discarded_) {
            auto* client = discarded_;
            discarded_ = nullptr;
            lock.unlock();
            jack_client_close(client);
            lock.lock();
            continue;
        }
        if (!current_) {
            lock.unlock();
            jack_options_t options = JackNoStartServer;
            if (!settings_.serverName.empty())
                options = static_cast<jack_options_t>(options | JackServerName);
            jack_status_t status{};
            jack_client_t* client =
                settings_.serverName.empty()
                    ? jack_client_open(settings_.clientName.c_str(), options, &status)
                    : jack_client_open(settings_.clientName.c_str(), options, &status, settings_.serverName.c_str());
            if (client) {
                // Recorded before it is handed out, so a discard() that follows
                // at once from another thread finds it.
                lock.lock();
                current_ = client;
                lock.unlock();
                if (!opened_(client)) {
                    lock.lock();
                    if (current_ == client)
                        current_ = nullptr;
                    if (discarded_ == client)
                        discarded_ = nullptr;
                    lock.unlock();
                    jack_client_close(client);
                    client = nullptr;
                }
            }
            if (!client)
                failed_();
            lock.lock();
            if (!client) {
                wake_.wait_for(lock, settings_.retryInterval, [this] { return stopping_ || discarded_; });
                continue;
            }
        }
        wake_.wait(lock, [this] { return stopping_ || discarded_ != nullptr; });
    }
}

} // namespace corvane::hw
