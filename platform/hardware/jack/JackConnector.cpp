// The connector thread: opens and closes JACK clients.
#include "platform/hardware/jack/JackConnector.h"

#include "platform/hardware/jack/LibjackMessages.h"

#include <optional>
#include <utility>

namespace corvane::hw {

JackConnector::JackConnector(Settings settings, Opened opened, Failed failed)
    : settings_(std::move(settings)),
      thread_(&JackConnector::run, state_, settings_, std::move(opened), std::move(failed)) {}

JackConnector::~JackConnector() {
    std::unique_lock lock(state_->mutex);
    state_->stopping = true;
    state_->wake.notify_all();
    if (state_->wake.wait_for(lock, settings_.closePatience, [this] { return state_->ended; })) {
        lock.unlock();
        thread_.join();
    } else {
        lock.unlock();
        thread_.detach(); // it holds its own state and calls nothing of ours again
    }
}

void JackConnector::discard(jack_client_t* client) {
    {
        std::lock_guard lock(state_->mutex);
        if (!client || client != state_->current)
            return;
        state_->current = nullptr;
        state_->discarded = client;
    }
    state_->wake.notify_all();
}

void JackConnector::forget(jack_client_t* client) {
    {
        std::lock_guard lock(state_->mutex);
        if (!client || client != state_->current)
            return;
        state_->current = nullptr;
    }
    state_->wake.notify_all();
}

void JackConnector::run(std::shared_ptr<State> state, Settings settings, Opened opened, Failed failed) {
    ConnectionAttemptMessages messages; // libjack says the same on every attempt while no server runs
    std::optional<std::chrono::steady_clock::time_point> lastAttempt;
    std::unique_lock lock(state->mutex);
    while (!state->stopping) {
        if (state->discarded) {
            auto* client = std::exchange(state->discarded, nullptr);
            lock.unlock();
            jack_client_close(client);
            lock.lock();
            continue;
        }
        if (state->current) {
            state->wake.wait(lock, [&] { return state->stopping || state->discarded || !state->current; });
            continue;
        }
        lock.unlock();
        const auto now = std::chrono::steady_clock::now();
        if (lastAttempt && now - *lastAttempt < settings.blindRetryInterval && !settings.serverMayBeRunning()) {
            failed();
            lock.lock();
            state->wake.wait_for(lock, settings.retryInterval, [&] { return state->stopping || state->discarded; });
            continue;
        }
        lastAttempt = now;
        jack_options_t options = JackNoStartServer;
        if (!settings.serverName.empty())
            options = static_cast<jack_options_t>(options | JackServerName);
        jack_status_t status{};
        jack_client_t* client = nullptr;
        {
            ConnectionAttemptMessages::Scope quietRepeats(messages);
            const char* name = settings.clientName.c_str();
            client = settings.serverName.empty()
                         ? jack_client_open(name, options, &status)
                         : jack_client_open(name, options, &status, settings.serverName.c_str());
        }
        messages.finish(client != nullptr);
        lock.lock();
        if (state->stopping) {
            if (client)
                state->current = client; // closed below
            break;
        }
        if (client) {
            // Recorded before it is handed out, so a discard() that follows at
            // once from another thread finds it.
            state->current = client;
            lock.unlock();
            const bool kept = opened(client);
            lock.lock();
            if (kept)
                continue;
            if (state->current == client)
                state->current = nullptr;
            if (state->discarded == client)
                state->discarded = nullptr;
            lock.unlock();
            jack_client_close(client);
            lock.lock();
        }
        if (state->stopping)
            break;
        lock.unlock();
        failed();
        lock.lock();
        state->wake.wait_for(lock, settings.retryInterval, [&] { return state->stopping || state->discarded; });
    }
    // Stopping: close what is ours, then say so.
    jack_client_t* clients[] = {std::exchange(state->discarded, nullptr), std::exchange(state->current, nullptr)};
    lock.unlock();
    for (auto* client : clients)
        if (client)
            jack_client_close(client);
    lock.lock();
    state->ended = true;
    state->wake.notify_all();
}

} // namespace corvane::hw
