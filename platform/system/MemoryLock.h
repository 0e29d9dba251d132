#pragma once
// Locking the process's memory into RAM, so that the audio thread never waits
// for a page to come back from swap.

#include <QString>

namespace corvane {

struct MemoryLockResult {
    bool locked = false;
    QString reason; // why not, when not
};

// Main thread, once the audio buffers exist. Locks current and future memory
// when the limit allows it (an unlimited RLIMIT_MEMLOCK or CAP_IPC_LOCK); with
// a finite limit it does not try, since future allocations beyond the limit
// would then fail.
MemoryLockResult lockProcessMemory();

} // namespace corvane
