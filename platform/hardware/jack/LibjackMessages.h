#pragma once
// libjack's own messages (what jack_set_error_function and
// jack_set_info_function receive) go to corvane.jack at debug level instead of
// stderr. While no server runs, every attempt to connect makes libjack say the
// same few lines again; the repeats are dropped, so the log says once what is
// wrong and again only when that changes.

#include <string>
#include <string_view>
#include <vector>

namespace corvane::hw {

// Any thread; the first call installs the routing for the process.
void routeLibjackMessages();

// What libjack says during one thread's connection attempts. A line is news
// unless the attempt has so far said exactly what the previous failed attempt
// said, line for line, up to and including it. A successful connection
// forgets the previous attempt, so the next failure is told in full again.
class ConnectionAttemptMessages {
public:
    // A line libjack said during the current attempt; true when it is news.
    bool isNews(std::string_view line);
    // The current attempt is over.
    void finish(bool connected);

    // While it lives, libjack's lines on this thread are logged only when
    // `messages` finds them news.
    class Scope {
    public:
        explicit Scope(ConnectionAttemptMessages& messages);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        ConnectionAttemptMessages* outer_;
    };

private:
    std::vector<std::string> previous_; // the last failed attempt's lines
    std::vector<std::string> current_;
    bool repeating_ = true; // the current attempt has only repeated the previous one so far
};

} // namespace corvane::hw
