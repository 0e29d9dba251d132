#pragma once
// How an interposer reaches the function it stands in for.
//
// The interposers live in the test program itself, which the dynamic linker
// searches before every library, so they catch calls from our code, from the
// C++ and Qt libraries, libjack and dlopen()ed plug-ins alike. What they hand on
// to is the next definition of the same name after the program: the C library's,
// or under the address sanitizer its interceptor where it has one, which then
// does its own checks and calls the C library.
//
// Where glibc exports an internal name for the same function (__read, __poll,
// ...) the normal build calls that directly. Everything else is looked up once
// with dlsym(RTLD_NEXT) while the program starts (dlsym takes the loader's lock
// and may allocate), so the interposers themselves only load a pointer. A call
// that arrives before that, from some library's start-up code, looks it up on
// the spot, long before any real-time scope exists.

#include <dlfcn.h>

#include <atomic>

namespace corvane::test::realtime {

template <typename Function>
class NextDefinition {
public:
    // `known` is glibc's internal name for the function, or null to look it up.
    constexpr NextDefinition(const char* name, Function known = nullptr) : name_(name), function_(known) {}

    // Any thread. Never null: glibc defines every function interposed here.
    Function get() noexcept {
        Function function = function_.load(std::memory_order_relaxed);
        if (!function) {
            // This code is in the test program, so RTLD_NEXT means the next
            // object after it, whichever library the call came from.
            function = reinterpret_cast<Function>(dlsym(RTLD_NEXT, name_));
            function_.store(function, std::memory_order_relaxed);
        }
        return function;
    }

private:
    const char* name_;
    std::atomic<Function> function_;
};

// glibc's internal name where the normal build may call it directly. Under the
// address sanitizer the interceptor must see the call, so it is looked up.
#if defined(__SANITIZE_ADDRESS__)
#define CORVANE_GLIBC_INTERNAL(name) nullptr
#else
#define CORVANE_GLIBC_INTERNAL(name) &name
#endif

} // namespace corvane::test::realtime

// Defines the C function `name` taking `parameters` (names and all, plus any
// noexcept, as glibc declares it): it notes `call` (Tally.h) and returns what
// the next definition gives for `arguments`. The optional last argument is
// glibc's internal name. The next definition is looked up while the program
// starts.
#define CORVANE_INTERPOSE(call, result, name, parameters, arguments, ...)                                    \
    namespace {                                                                                               \
    constinit corvane::test::realtime::NextDefinition<result(*) parameters> next_##name{#name __VA_OPT__(, )  \
                                                                                            __VA_ARGS__};   \
    [[maybe_unused]] const bool lookedUp_##name = next_##name.get() != nullptr;                               \
    }                                                                                                         \
    extern "C" result name parameters {                                                                       \
        corvane::test::realtime::note(corvane::test::realtime::call);                                         \
        return next_##name.get() arguments;                                                                   \
    }
