#pragma once
// Which real-time priority the audio thread runs at, learnt from the outside:
// the device backends start that thread (or libjack does) and ask for
// SCHED_FIFO themselves, and only the kernel knows whether they got it. And
// where threads of this and other processes run, read and set the same way.

#include <sched.h>

#include <cstdint>
#include <vector>

namespace corvane {

// Main thread. The highest SCHED_FIFO priority among this process's threads
// (the audio thread is the one that asks for it); 0 when none runs so.
int highestRealtimePriority();

// Main thread, as the functions below. The threads of process `pid` (0: this
// one), all of them or only those that run SCHED_FIFO.
std::vector<int> threadsOf(int pid, bool realtimeOnly);
// The time thread `thread` of process `pid` has run on a processor, in
// nanoseconds, and the processor it last ran on (-1 when it has ended).
std::uint64_t threadRunNanos(int pid, int thread);
int lastProcessor(int pid, int thread);
// Lets thread `thread` (of any process) run only on `processors`; false when
// it has ended or the kernel refused.
bool confineThread(int thread, const cpu_set_t& processors);

} // namespace corvane
