#pragma once
// Tells a thread that waits in poll() to end: it polls fd() among its own
// descriptors, and raise() makes that read ready for good.

namespace corvane::hw::alsa {

class StopEvent {
public:
    StopEvent();
    ~StopEvent();
    StopEvent(const StopEvent&) = delete;
    StopEvent& operator=(const StopEvent&) = delete;

    // False when the system gave no descriptor: nothing could be stopped.
    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // Any thread; never blocks.
    void raise() const;

private:
    int fd_ = -1;
};

} // namespace corvane::hw::alsa
