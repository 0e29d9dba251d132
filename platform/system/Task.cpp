#include "platform/system/Task.h"

#include "platform/system/Logging.h"

namespace corvane {

void TaskState::cancel() {
    if (cancelled_ || done_)
        return;
    cancelled_ = true;
    if (auto hook = std::exchange(cancelHook_, nullptr))
        hook();
}

void TaskState::whenDone(std::function<void()> fn) {
    if (done_) {
        fn();
        return;
    }
    onDone_.push_back(std::move(fn));
}

void TaskState::markDone() {
    done_ = true;
    cancelHook_ = nullptr;
    auto waiting = std::exchange(onDone_, {});
    for (auto& fn : waiting)
        fn();
}

namespace detail {

void logUnhandled(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        qCWarning(lcEngine, "Unhandled exception in a main-thread task: %s", e.what());
    } catch (...) {
        qCWarning(lcEngine, "Unhandled exception in a main-thread task");
    }
}

// The frame of a top-level task: starts at once, owns itself, and marks its
// state done as it ends.
struct TopLevel {
    struct promise_type : PromiseBase {
        promise_type(const std::shared_ptr<TaskState>& state, Async<void>&) { task = state; }
        TopLevel get_return_object() noexcept { return {}; }
        std::suspend_never initial_suspend() noexcept { return {}; }
        std::suspend_never final_suspend() noexcept { return {}; }
        void return_void() noexcept {}
        void unhandled_exception() noexcept { logUnhandled(std::current_exception()); }
    };
};

TopLevel runTopLevel(std::shared_ptr<TaskState> state, Async<void> body) {
    try {
        co_await std::move(body);
    } catch (...) {
        logUnhandled(std::current_exception());
    }
    state->markDone();
}

} // namespace detail

Task spawn(Async<void> body) {
    auto state = std::make_shared<TaskState>();
    detail::runTopLevel(state, std::move(body));
    return Task(std::move(state));
}

bool SleepAwaiter::suspend(std::coroutine_handle<> h, TaskState* task) {
    if (task && task->isCancelled())
        return false; // completed_ stays false
    timer_ = clock_.callAt(deadline_, [this, h, task] {
        completed_ = true;
        if (task)
            task->clearCancelHook();
        h.resume();
    });
    if (task) {
        task->setCancelHook([this, h] {
            clock_.cancelTimer(timer_);
            // Resume from the event loop, never inside whoever called cancel().
            postToMain([h] { h.resume(); });
        });
    }
    return true;
}

} // namespace corvane
