#include "platform/hardware/jack/LibjackMessages.h"

#include "platform/hardware/jack/CancellationShield.h"

#include "platform/system/Logging.h"

#include <jack/jack.h>

#include <mutex>

namespace corvane::hw {

namespace {

// libjack calls its message functions on the thread that made the call that
// went wrong, so an attempt on the connector thread sees its own lines here.
thread_local ConnectionAttemptMessages* currentAttempt = nullptr;

// Also called on libjack's own threads, which it cancels asynchronously.
void logLibjackMessage(const char* message) {
    shieldedFromCancellation([message] {
        if (currentAttempt && !currentAttempt->isNews(message))
            return;
        qCDebug(lcJack, "%s", message);
    });
}

} // namespace

void routeLibjackMessages() {
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(&logLibjackMessage);
        jack_set_info_function(&logLibjackMessage);
    });
}

bool ConnectionAttemptMessages::isNews(std::string_view line) {
    const std::size_t index = current_.size();
    current_.emplace_back(line);
    if (repeating_ && index < previous_.size() && previous_[index] == line)
        return false;
    repeating_ = false;
    return true;
}

void ConnectionAttemptMessages::finish(bool connected) {
    if (connected)
        previous_.clear();
    else
        previous_.swap(current_);
    current_.clear();
    repeating_ = true;
}

ConnectionAttemptMessages::Scope::Scope(ConnectionAttemptMessages& messages) : outer_(currentAttempt) {
    currentAttempt = &messages;
}

ConnectionAttemptMessages::Scope::~Scope() { currentAttempt = outer_; }

} // namespace corvane::hw
