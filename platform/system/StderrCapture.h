#pragma once
// Takes a library's diagnostics off the standard error stream, for libraries
// that print them there and offer no hook (lilv and serd).
//
// The stream is process-wide, so while a capture lives file descriptor 2 is a
// pipe and everything any thread writes to it goes through here. A thread of
// ours reads the pipe line by line and asks `claim` whether a line is the
// library's: those lines are kept and handed to `deliver` when the capture ends,
// on the thread that ends it; every other line (our own Qt messages, whatever
// another thread prints) goes on to the real stderr as soon as it is read.
// Claiming by the lines' form rather than by the time they were written keeps
// anyone else's output from being swallowed, and nothing needs to know a
// capture is on: Qt's handler, a test's handler and plain fprintf all work.
//
// Captures nest and may overlap across threads: the first one to begin opens
// the window, the last one to end closes it, and the functions of the one that
// opened it apply throughout. A program gives every capture the same pair.
// Not for the real-time thread (it takes a lock and makes system calls).

#include <string_view>

namespace corvane {

class StderrCapture {
public:
    // Reader thread. True when `line` (without its newline) is the library's.
    using Claim = bool (*)(std::string_view line);
    // The ending thread, after the real stderr is back in place.
    using Emit = void (*)(std::string_view line);

    StderrCapture(Claim claim, Emit deliver);
    // Waits (briefly) until the reader has dealt with everything written
    // before, then emits the claimed lines.
    ~StderrCapture();
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    // Writes `text` to the real standard error, around a window open now: for
    // a program's own messages, which then can neither be taken for the
    // library's nor land in the middle of a line the library writes in parts.
    // Any thread but the real-time one.
    static void writeToStderr(std::string_view text);

    // Gives fd 2 back to the real stream for a while inside a window: for
    // running code that is not the library's (a plug-in's own instantiate()),
    // whose last words before a crash or a hang must not wait in the pipe.
    class Pause {
    public:
        Pause();
        ~Pause();
        Pause(const Pause&) = delete;
        Pause& operator=(const Pause&) = delete;

    private:
        bool paused_ = false;
    };
};

} // namespace corvane
