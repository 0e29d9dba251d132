#pragma once
// The engine's tap thread: drains the taps' rings and calls their blocks, and
// hands events the render thread raises (a period longer than the graph was
// built for) on to whoever the engine names. Tap blocks therefore never run on
// the render thread, and the render thread never waits for them.

#include "platform/engine/Tap.h"
#include "platform/system/RealtimeScope.h"
#include "platform/system/WakeableThread.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace corvane::engine {

class TapThread {
public:
    TapThread();
    ~TapThread();
    TapThread(const TapThread&) = delete;
    TapThread& operator=(const TapThread&) = delete;

    // Main thread. `onOverrun` runs on the tap thread after reportOverrun().
    void start(std::vector<std::shared_ptr<Tap>> taps, std::function<void()> onOverrun);
    // Main thread: returns once the thread has ended; no block runs afterwards.
    void stop();
    // Main thread: replaces the taps served; returns after any block in progress
    // has finished, so a tap left out is never called again.
    void setTaps(std::vector<std::shared_ptr<Tap>> taps);
    bool isRunning() const { return thread_.isRunning(); }

    // Render thread: a tap has a whole chunk to deliver. Never blocks. Wakes
    // the thread at every `chunksPerWake`-th call.
    CORVANE_REALTIME void wake() noexcept;
    // Any thread: 1 (the default) or more; see Engine::setTapChunksPerWake.
    void setChunksPerWake(std::uint32_t chunks) { chunksPerWake_.store(chunks, std::memory_order_relaxed); }
    // Main thread: calls the blocks for what the taps hold now, on this thread.
    void deliverNow();
    // Render thread: a period did not fit the graph.
    CORVANE_REALTIME void reportOverrun() noexcept;
    // How often the render thread woke this thread since it was made.
    std::uint64_t wakeups() const { return wakeups_.load(std::memory_order_relaxed); }

private:
    void serve();

    std::mutex mutex_; // between the main thread and the tap thread only
    std::vector<std::shared_ptr<Tap>> taps_;
    std::function<void()> onOverrun_;
    std::atomic<bool> overrun_{false};
    std::atomic<std::uint64_t> wakeups_{0};
    std::atomic<std::uint32_t> chunksPerWake_{1};
    std::uint32_t chunksSinceWake_ = 0; // render thread's own
    WakeableThread thread_;
};

} // namespace corvane::engine
