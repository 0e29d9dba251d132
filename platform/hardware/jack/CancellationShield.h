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

namespace corvane::hw {

template <typename Body>
auto shieldedFromCancellation(Body&& body) {
    static_assert(std::is_trivially_destructible_v<decltype(body())> || std::is_void_v<decltype(body())>,
                  "nothing may need cleaning up when the cancellation unwinds");
    int previous = PTHREAD_CANCEL_ENABLE;
    ::pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);
    if constexpr (std::is_void_v<decltype(body())>) {
        body();
        ::pthread_setcancelstate(previous, nullptr);
    } else {
        const auto result = body();
        ::pthread_setcancelstate(previous, nullptr);
        return result;
    }
}

} // namespace corvane::hw
