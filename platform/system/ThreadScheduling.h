#pragma once
// Which real-time priority the audio thread runs at, learnt from the outside:
// the device backends start that thread (or libjack does) and ask for
// SCHED_FIFO themselves, and only the kernel knows whether they got it.

namespace corvane {

// Main thread. The highest SCHED_FIFO priority among this process's threads
// (the audio thread is the one that asks for it); 0 when none runs so.
int highestRealtimePriority();

} // namespace corvane
