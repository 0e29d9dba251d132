#pragma once
// For objects a thread that stopped responding may still reach: such a thread
// cannot be joined or interrupted, so what it touches is never freed. This is a
// deliberate leak, and the only safe end for them; the objects stay reachable
// from a list that is never destroyed, so leak checkers see them as kept.

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

namespace corvane {

// Any thread but the real-time one. `object` lives until the process ends.
inline void keepForever(std::shared_ptr<const void> object) {
    if (!object)
        return;
    static auto* mutex = new std::mutex; // neither is ever destroyed
    static auto* kept = new std::vector<std::shared_ptr<const void>>;
    const std::lock_guard lock(*mutex);
    kept->push_back(std::move(object));
}

// Any thread but the real-time one. Stops `session` (a running device's I/O)
// and tells whether its thread ended within `patience`; a session whose thread
// hangs in the callback is kept forever, since that thread still runs in it.
template <typename Session>
bool stopOrKeepForever(std::shared_ptr<Session> session, std::chrono::milliseconds patience) {
    if (!session || session->stop(patience))
        return true;
    keepForever(std::move(session));
    return false;
}

} // namespace corvane
