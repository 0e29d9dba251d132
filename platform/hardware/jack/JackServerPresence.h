#pragma once
// Whether a JACK server could be running, told from the sockets servers leave
// in the file system, without talking to one: asking libjack to open a client
// costs about two milliseconds of processor time even when no server runs,
// and a search that asks every second would cost more than a stopped window.
// A JACK 2 server listens on a socket in /dev/shm named after it ("jack_" and
// more), a JACK 1 server on sockets in /dev/shm/jack-<uid>/<server>/, and
// PipeWire's libjack talks to PipeWire's socket in the runtime folder.

#include <string>

namespace corvane::hw {

struct JackServerPlaces {
    std::string sharedMemoryFolder = "/dev/shm";
    // PipeWire's socket, from PIPEWIRE_RUNTIME_DIR, XDG_RUNTIME_DIR or
    // /run/user/<uid>, and PIPEWIRE_REMOTE (default "pipewire-0").
    std::string pipeWireSocket = defaultPipeWireSocket();

    static std::string defaultPipeWireSocket();
};

// False only when none of those sockets is there; any thread.
bool jackServerMayBeRunning(const JackServerPlaces& places = {});

} // namespace corvane::hw
