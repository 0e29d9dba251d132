#pragma once
// Render thread. Scope guard that makes the FPU flush denormal results and
// inputs to zero (FTZ/DAZ) and restores the caller's mode on exit: decaying
// feedback paths in effects otherwise slow down by orders of magnitude when
// their state falls into the denormal range.

#include <cstdint>

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace corvane::engine {

class DenormalFlush {
public:
    DenormalFlush() noexcept {
#if defined(__SSE__) || defined(__x86_64__)
        saved_ = _mm_getcsr();
        constexpr unsigned flushToZero = 0x8000;
        constexpr unsigned denormalsAreZero = 0x0040;
        _mm_setcsr(saved_ | flushToZero | denormalsAreZero);
#elif defined(__aarch64__)
        std::uint64_t fpcr;
        asm volatile("mrs %0, fpcr" : "=r"(fpcr));
        saved_ = fpcr;
        asm volatile("msr fpcr, %0" : : "r"(fpcr | (std::uint64_t(1) << 24)));
#endif
    }

    ~DenormalFlush() {
#if defined(__SSE__) || defined(__x86_64__)
        _mm_setcsr(static_cast<unsigned>(saved_));
#elif defined(__aarch64__)
        asm volatile("msr fpcr, %0" : : "r"(saved_));
#endif
    }

    DenormalFlush(const DenormalFlush&) = delete;
    DenormalFlush& operator=(const DenormalFlush&) = delete;

private:
    std::uint64_t saved_ = 0;
};

} // namespace corvane::engine
