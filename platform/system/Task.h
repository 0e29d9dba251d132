#pragma once
// Cancellable asynchronous flows on the main thread, built on C++20 coroutines.
//
//   Async<T>  an async function: lazy, runs inside whichever task awaits it and
//             shares that task's cancellation.
//   Task      a handle to a top-level flow started with spawn(); it runs on the
//             main thread until its first wait, then resumes from the event loop.
//             Dropping the handle does not cancel the flow.
//
// Waiting points: sleepFor/sleepUntil (on an injected Clock), runDetached (work on
// the background pool, result back on the main thread), Task::join, and
// currentTaskCancelled(). Cancelling a task wakes a pending sleep or detached wait
// at once (through the event loop) and reports the cancellation to it; joins are
// never interrupted. Everything here is main-thread only.

#include "platform/system/Clock.h"
#include "platform/system/MainThread.h"

#include <QRunnable>
#include <QThreadPool>

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace corvane {

class TaskState {
public:
    bool isCancelled() const { return cancelled_; }
    bool isDone() const { return done_; }
    void cancel();

    // Used by waiting points: how to wake the pending wait on cancellation.
    void setCancelHook(std::function<void()> hook) { cancelHook_ = std::move(hook); }
    void clearCancelHook() { cancelHook_ = nullptr; }
    void whenDone(std::function<void()> fn);
    void markDone();

private:
    bool cancelled_ = false;
    bool done_ = false;
    std::function<void()> cancelHook_;
    std::vector<std::function<void()>> onDone_;
};

namespace detail {

struct PromiseBase {
    std::shared_ptr<TaskState> task;
    std::coroutine_handle<> continuation;
    std::exception_ptr error;
};

template <class P>
concept TaskPromise = std::is_base_of_v<PromiseBase, P>;

template <class T>
struct ValueHolder {
    std::optional<T> value;
    void return_value(T v) { value = std::move(v); }
    T take() { return std::move(*value); }
};
template <>
struct ValueHolder<void> {
    void return_void() {}
    void take() {}
};

void logUnhandled(std::exception_ptr error);

} // namespace detail

template <class T = void>
class [[nodiscard]] Async {
public:
    struct promise_type : detail::PromiseBase, detail::ValueHolder<T> {
        Async get_return_object() { return Async{std::coroutine_handle<promise_type>::from_promise(*this)}; }
        std::suspend_always initial_suspend() noexcept { return {}; }
        struct FinalAwaiter {
            bool await_ready() noexcept { return false; }
            std::coroutine_handle<> await_suspend(std::coroutine_handle<promise_type> h) noexcept {
                auto next = h.promise().continuation;
                return next ? next : std::noop_coroutine();
            }
            void await_resume() noexcept {}
        };
        FinalAwaiter final_suspend() noexcept { return {}; }
        void unhandled_exception() { error = std::current_exception(); }
    };

    Async(Async&& other) noexcept : h_(std::exchange(other.h_, {})) {}
    Async& operator=(Async&&) = delete;
    Async(const Async&) = delete;
    ~Async() {
        if (h_)
            h_.destroy();
    }

    bool await_ready() const noexcept { return false; }
    template <detail::TaskPromise P>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<P> parent) noexcept {
        h_.promise().task = parent.promise().task;
        h_.promise().continuation = parent;
        return h_;
    }
    T await_resume() {
        if (h_.promise().error)
            std::rethrow_exception(h_.promise().error);
        return h_.promise().take();
    }

private:
    explicit Async(std::coroutine_handle<promise_type> h) : h_(h) {}
    std::coroutine_handle<promise_type> h_;
};

class Task {
public:
    Task() = default;
    explicit Task(std::shared_ptr<TaskState> state) : state_(std::move(state)) {}

    explicit operator bool() const { return state_ != nullptr; }
    bool isDone() const { return !state_ || state_->isDone(); }
    bool isCancelled() const { return state_ && state_->isCancelled(); }
    void cancel() const {
        if (state_)
            state_->cancel();
    }
    const std::shared_ptr<TaskState>& state() const { return state_; }

    // Completes once the task has finished (at once for an empty handle).
    struct JoinAwaiter {
        std::shared_ptr<TaskState> state;
        bool await_ready() const noexcept { return !state || state->isDone(); }
        void await_suspend(std::coroutine_handle<> h) { state->whenDone([h] { h.resume(); }); }
        void await_resume() const noexcept {}
    };
    JoinAwaiter join() const { return JoinAwaiter{state_}; }

private:
    std::shared_ptr<TaskState> state_;
};

// Starts `body` as a new top-level task. It runs synchronously up to its first
// wait. An exception escaping it is logged, never propagated.
Task spawn(Async<void> body);

// Convenience: spawn a callable returning Async<void>; the callable is kept alive
// for the whole flow (its captures are the flow's state).
template <class F>
Task spawnWith(F&& makeBody) {
    auto fn = std::make_shared<std::decay_t<F>>(std::forward<F>(makeBody));
    return spawn([](std::shared_ptr<std::decay_t<F>> keep) -> Async<void> { co_await (*keep)(); }(fn));
}

// True when the task running the caller has been cancelled. Never suspends.
struct CancellationQuery {
    bool cancelled = false;
    bool await_ready() const noexcept { return false; }
    template <detail::TaskPromise P>
    bool await_suspend(std::coroutine_handle<P> h) noexcept {
        cancelled = h.promise().task && h.promise().task->isCancelled();
        return false;
    }
    bool await_resume() const noexcept { return cancelled; }
};
inline CancellationQuery currentTaskCancelled() { return {}; }

// Lets the main thread finish what it is doing: resumes from the event loop.
struct YieldAwaiter {
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h) const { postToMain([h] { h.resume(); }); }
    void await_resume() const noexcept {}
};
inline YieldAwaiter yieldToEventLoop() { return {}; }

// Sleeps on `clock`. Resumes with true after the full wait, false when the task
// was (or becomes) cancelled.
class SleepAwaiter {
public:
    SleepAwaiter(Clock& clock, Clock::TimePoint deadline) : clock_(clock), deadline_(deadline) {}
    bool await_ready() const noexcept { return false; }
    template <detail::TaskPromise P>
    bool await_suspend(std::coroutine_handle<P> h) {
        return suspend(h, h.promise().task.get());
    }
    bool await_resume() const noexcept { return completed_; }

private:
    bool suspend(std::coroutine_handle<> h, TaskState* task);
    Clock& clock_;
    Clock::TimePoint deadline_;
    Clock::TimerId timer_ = 0;
    bool completed_ = false;
};
inline SleepAwaiter sleepUntil(Clock& clock, Clock::TimePoint deadline) { return {clock, deadline}; }
inline SleepAwaiter sleepFor(Clock& clock, Clock::Duration d) { return {clock, clock.now() + d}; }

// Runs `fn` on the background pool and resumes on the main thread with its
// result. Pass a named callable when it captures anything with a destructor:
// g++ 12 destroys a lambda written inside a co_await expression twice. Cancellation resumes at once with no value (the late result is
// dropped); an already cancelled task does not run `fn` at all. With a time
// limit (runDetachedWithin) a call that takes longer resumes with no value too.
template <class F>
class DetachedAwaiter {
    using R = std::invoke_result_t<F>;
    using Stored = std::conditional_t<std::is_void_v<R>, bool, R>;
    struct Job {
        std::optional<Stored> result;
        bool finished = false;
        std::coroutine_handle<> h;
        std::shared_ptr<TaskState> task;
        Clock* clock = nullptr;
        Clock::TimerId timer = 0;
        void finish() {
            finished = true;
            if (task)
                task->clearCancelHook();
            if (clock)
                clock->cancelTimer(timer);
            h.resume();
        }
    };

public:
    explicit DetachedAwaiter(F fn, Clock* clock = nullptr, Clock::Duration limit = {})
        : fn_(std::move(fn)), clock_(clock), limit_(limit) {}
    bool await_ready() const noexcept { return false; }
    template <detail::TaskPromise P>
    bool await_suspend(std::coroutine_handle<P> h) {
        job_ = std::make_shared<Job>();
        job_->h = h;
        job_->task = h.promise().task;
        if (job_->task && job_->task->isCancelled())
            return false;
        if (job_->task) {
            job_->task->setCancelHook([job = job_] {
                postToMain([job] {
                    if (!job->finished)
                        job->finish();
                });
            });
        }
        if (clock_) {
            job_->clock = clock_;
            job_->timer = clock_->callAt(clock_->now() + limit_, [job = job_] {
                if (!job->finished) {
                    job->clock = nullptr; // this timer has fired
                    job->finish();
                }
            });
        }
        backgroundPool().start([job = job_, fn = std::move(fn_)]() mutable {
            std::optional<Stored> value;
            if constexpr (std::is_void_v<R>) {
                fn();
                value = true;
            } else {
                value = fn();
            }
            // Boxed, so that move-only results cross into the (copyable) posted call.
            auto box = std::make_shared<std::optional<Stored>>(std::move(value));
            postToMain([job, box] {
                if (job->finished)
                    return;
                job->result = std::move(*box);
                job->finish();
            });
        });
        return true;
    }
    std::optional<Stored> await_resume() { return std::move(job_->result); }

private:
    F fn_;
    Clock* clock_;
    Clock::Duration limit_;
    std::shared_ptr<Job> job_;
};
template <class F>
DetachedAwaiter<std::decay_t<F>> runDetached(F&& fn) {
    return DetachedAwaiter<std::decay_t<F>>(std::forward<F>(fn));
}
template <class F>
DetachedAwaiter<std::decay_t<F>> runDetachedWithin(Clock& clock, Clock::Duration limit, F&& fn) {
    return DetachedAwaiter<std::decay_t<F>>(std::forward<F>(fn), &clock, limit);
}

} // namespace corvane
