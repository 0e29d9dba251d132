#pragma once
// The LV2 worker: a plug-in schedules non-real-time work from run(); a thread of
// our own performs it and the responses come back on the render thread at the
// end of the next process() call. Requests and responses travel through rings,
// so neither direction allocates or locks on the render thread.

#include <lv2/core/lv2.h>
#include <lv2/worker/worker.h>

#include "platform/lv2/RingBuffer.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <semaphore>
#include <thread>
#include <vector>

namespace corvane::lv2 {

class Worker {
public:
    Worker();
    ~Worker(); // stops the thread
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // The feature handed to the plug-in at instantiation.
    LV2_Worker_Schedule* scheduleFeature() { return &schedule_; }

    // After instantiation, with the plug-in's worker interface (null when it has
    // none). Starts the worker thread when there is an interface.
    void attach(LV2_Handle handle, const LV2_Worker_Interface* iface);

    // Render thread, after run(): hands finished work back to the plug-in.
    void deliverResponses() noexcept;

    // Main thread, while the plug-in is not run: forgets queued requests and responses.
    void clear() noexcept;

    // While it lives, the worker thread runs no work(), so the instance may be
    // deactivated, activated or restored. What the plug-in schedules from
    // those calls on the holding thread is worked at once, inside the hold:
    // waiting for the hold to end would wait for itself.
    class Hold {
    public:
        explicit Hold(Worker& worker);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        Worker& worker_;
        std::lock_guard<std::mutex> lock_;
    };
    // Any thread but the render thread.
    [[nodiscard]] Hold holdWork() { return Hold(*this); }

private:
    LV2_Worker_Status schedule(std::uint32_t size, const void* data) noexcept;
    static LV2_Worker_Status respond(LV2_Worker_Respond_Handle handle, std::uint32_t size, const void* data);
    void loop();

    LV2_Worker_Schedule schedule_;
    LV2_Handle handle_ = nullptr;
    const LV2_Worker_Interface* iface_ = nullptr;
    RingBuffer requests_;
    RingBuffer responses_;
    std::vector<unsigned char> requestScratch_;  // worker thread
    std::vector<unsigned char> responseScratch_; // render thread
    std::mutex workMutex_; // work() is never run twice at once (thread vs. direct calls)
    std::atomic<std::thread::id> holder_{}; // the thread inside a Hold, if any
    std::counting_semaphore<> pending_{0};
    std::atomic<bool> quit_{false};
    std::thread thread_;
};

} // namespace corvane::lv2
