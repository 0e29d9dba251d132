#pragma once
// libjack runs its client threads (notifications, process) with asynchronous
// cancellation and cancels them wherever they are when a client closes or
// deactivates. Our callbacks hold locks and counters and run through noexcept
// code: a thread torn down inside one would leave a mutex locked for good or
// abort the whole process. So every function libjack calls runs its body with
// cancellation held off; a cancellation that arrived meanwhile is acted on as
// the body ends, in this frame, where nothing is left to clean up.
//
// Deliberately not noexcept, and neither may the callbacks that call it be:
// the cancellation unwinds through them into libjack's own frames.

#include <pthread.h>

#include <type_traits>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#endif

namespace corvane::hw {

namespace detail {

// The address sanitizer poisons the stack around our frames' locals and clears
// that when a frame returns or an exception passes; a cancellation's forced
// unwind does neither, and the thread's own teardown then trips over stale
// poison. Cleared by hand before a cancellation can be acted on.
inline void unpoisonStackAbove() {
#if defined(__SANITIZE_ADDRESS__)
    __asan_handle_no_return();
#endif
}

} // namespace detail

template <typename Body>
auto shieldedFromCancellation(Body&& body) {
    static_assert(std::is_trivially_destructible_v<decltype(body())> || std::is_void_v<decltype(body())>,
                  "nothing may need cleaning up when the cancellation unwinds");
    int previous = PTHREAD_CANCEL_ENABLE;
    ::pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);
    if constexpr (std::is_void_v<decltype(body())>) {
        body();
        detail::unpoisonStackAbove();
        ::pthread_setcancelstate(previous, nullptr);
    } else {
        const auto result = body();
        detail::unpoisonStackAbove();
        ::pthread_setcancelstate(previous, nullptr);
        return result;
    }
}

} // namespace corvane::hw
