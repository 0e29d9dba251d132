#pragma once
// Makes the first ending signal (Ctrl-C, SIGTERM, SIGHUP) end the process
// even when the main thread cannot answer it: stuck in an open() of a FIFO, in
// a plug-in that never returns, in anything that never gets back to the event
// loop. A thread of its own waits for trigger(); from then on the main thread
// has `grace` to begin its orderly end (beginOrderlyEnd()), and `overtime` more
// to finish it. Whoever is late, the watchdog ends the process with status
// 128 + the signal: after its last words when the orderly end never began,
// without them when it did (what is left behind is then the main thread's to
// write, and it may be writing it).
//
// Threads: trigger() from a signal handler (async-signal-safe: atomics and
// sem_post); everything else on the thread that owns the object. The last
// words run on the watchdog's thread while the main thread may be anywhere:
// they must use only what was prepared for them beforehand.

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include <semaphore.h>

namespace corvane {

class ExitWatchdog {
public:
    struct Options {
        std::chrono::milliseconds grace{2000};
        std::chrono::milliseconds overtime{500};
        // Given the signal; may be empty.
        std::function<void(int signal)> lastWords;
        // Ends the process with this status (_exit by default). Tests give
        // one that returns; the watchdog then does nothing more.
        std::function<void(int status)> exit;
    };

    explicit ExitWatchdog(Options options);
    // Stops watching: an orderly end that got here is done.
    ~ExitWatchdog();
    ExitWatchdog(const ExitWatchdog&) = delete;
    ExitWatchdog& operator=(const ExitWatchdog&) = delete;

    // Starts the grace period; later calls change nothing. Async-signal-safe.
    void trigger(int signal) noexcept;

    // The main thread begins its orderly end, and with it writes what it
    // leaves behind. False when the grace had already run out: the watchdog's
    // last words are then being said, and this returns only once it has ended
    // the process (in tests, once its exit function returned); the caller then
    // writes nothing of its own.
    bool beginOrderlyEnd();

private:
    enum State : int { Watching, OrderlyEnd, Ending, Ended };

    void watch();
    // Waits on wake_ until `deadline` or until told to stop; true when stopped.
    bool stoppedBefore(std::chrono::steady_clock::time_point deadline);

    const Options options_;
    sem_t wake_;
    std::atomic<int> signal_{0};
    std::atomic<int> state_{Watching};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace corvane
