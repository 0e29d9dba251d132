#include "platform/lv2/Worker.h"

#include "platform/system/RealtimeScope.h"

namespace corvane::lv2 {

namespace {
constexpr std::size_t ringBytes = 64 * 1024;
}

Worker::Worker() : requests_(ringBytes), responses_(ringBytes), requestScratch_(ringBytes), responseScratch_(ringBytes) {
    schedule_.handle = this;
    schedule_.schedule_work = [](LV2_Worker_Schedule_Handle handle, std::uint32_t size, const void* data) {
        return static_cast<Worker*>(handle)->schedule(size, data);
    };
}

Worker::Hold::Hold(Worker& worker) : worker_(worker), lock_(worker.workMutex_) {
    worker_.holder_.store(std::this_thread::get_id(), std::memory_order_relaxed);
}

Worker::Hold::~Hold() { worker_.holder_.store(std::thread::id(), std::memory_order_relaxed); }

Worker::~Worker() {
    if (thread_.joinable()) {
        quit_.store(true);
        pending_.release();
        thread_.join();
    }
}

void Worker::attach(LV2_Handle handle, const LV2_Worker_Interface* iface) {
    handle_ = handle;
    iface_ = iface;
    if (iface_ && iface_->work && !thread_.joinable())
        thread_ = std::thread([this] { loop(); });
}

CORVANE_REALTIME
LV2_Worker_Status Worker::schedule(std::uint32_t size, const void* data) noexcept {
    HostCallbackScope host; // called from the plug-in's run()
    if (!iface_ || !iface_->work)
        return LV2_WORKER_ERR_UNKNOWN;
    if (!inRealtimeScope()) {
        // Scheduled outside run() (instantiation, activation, state restore):
        // nothing real time is waiting, so do the work here; responses still
        // wait for run(). A thread that holds the work off already has the
        // instance to itself.
        if (holder_.load(std::memory_order_relaxed) == std::this_thread::get_id())
            return iface_->work(handle_, &Worker::respond, this, size, data);
        std::lock_guard guard(workMutex_);
        return iface_->work(handle_, &Worker::respond, this, size, data);
    }
    if (!requests_.write(data, size))
        return LV2_WORKER_ERR_NO_SPACE;
    pending_.release();
    return LV2_WORKER_SUCCESS;
}

LV2_Worker_Status Worker::respond(LV2_Worker_Respond_Handle handle, std::uint32_t size, const void* data) {
    auto* self = static_cast<Worker*>(handle);
    return self->responses_.write(data, size) ? LV2_WORKER_SUCCESS : LV2_WORKER_ERR_NO_SPACE;
}

void Worker::loop() {
    for (;;) {
        pending_.acquire();
        if (quit_.load())
            return;
        const std::uint32_t size =
            requests_.read(requestScratch_.data(), static_cast<std::uint32_t>(requestScratch_.size()));
        if (size == 0)
            continue;
        std::lock_guard guard(workMutex_);
        iface_->work(handle_, &Worker::respond, this, size, requestScratch_.data());
    }
}

CORVANE_REALTIME
void Worker::deliverResponses() noexcept {
    if (!iface_)
        return;
    if (iface_->work_response) {
        std::uint32_t size = 0;
        while (responses_.peekSize(size)) {
            size = responses_.read(responseScratch_.data(), static_cast<std::uint32_t>(responseScratch_.size()));
            if (size > 0) {
                PluginCodeScope pluginCode; // as much the plug-in's own as its run()
                iface_->work_response(handle_, size, responseScratch_.data());
            }
        }
    }
    if (iface_->end_run) {
        PluginCodeScope pluginCode;
        iface_->end_run(handle_);
    }
}

void Worker::clear() noexcept {
    // Requests are the worker thread's to read; with work held off it takes
    // whatever is left and finds the plug-in restarted, which work() must cope
    // with anyway. Responses for the old history must not reach the new one.
    responses_.clear();
}

} // namespace corvane::lv2
