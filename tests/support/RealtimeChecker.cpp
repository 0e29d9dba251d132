#include "tests/support/RealtimeChecker.h"

#include "platform/engine/RealtimeScope.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <new>

namespace {

enum Kind { Malloc, Calloc, Realloc, Free, Aligned, New, Delete, SanitizerAllocation, SanitizerRelease, KindCount };

constexpr const char* kKindNames[] = {"malloc",          "calloc",           "realloc",
                                      "free",            "aligned alloc",    "operator new",
                                      "operator delete", "allocation",       "release"};

std::atomic<std::uint64_t> counts[KindCount];
// Heap calls made by hosted plug-ins' own code: reported, never a failure.
std::atomic<std::uint64_t> pluginCalls{0};
static_assert(KindCount == 9, "RealtimeChecker::kKinds must match");

inline void note(Kind kind) noexcept {
    if (!corvane::engine::inRealtimeScope())
        return;
    if (corvane::engine::inPluginCode())
        pluginCalls.fetch_add(1, std::memory_order_relaxed);
    else
        counts[kind].fetch_add(1, std::memory_order_relaxed);
}

} // namespace

#if defined(__SANITIZE_ADDRESS__)

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, std::size_t),
                                                         void (*free_hook)(const volatile void*));

namespace {

void onAllocation(const volatile void*, std::size_t) { note(SanitizerAllocation); }
void onRelease(const volatile void*) { note(SanitizerRelease); }

[[maybe_unused]] const int hooksInstalled = __sanitizer_install_malloc_and_free_hooks(onAllocation, onRelease);

} // namespace

#else

// glibc's own entry points, which stay reachable under these names when the
// public ones are replaced.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void __libc_free(void* pointer);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void* __libc_valloc(std::size_t size);
void* __libc_pvalloc(std::size_t size);
}

extern "C" {

void* malloc(std::size_t size) {
    note(Malloc);
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) {
    note(Calloc);
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, std::size_t size) {
    note(Realloc);
    return __libc_realloc(pointer, size);
}

void free(void* pointer) {
    note(Free);
    __libc_free(pointer);
}

void* memalign(std::size_t alignment, std::size_t size) {
    note(Aligned);
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
    note(Aligned);
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size) {
    note(Aligned);
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void* pointer = __libc_memalign(alignment, size);
    if (!pointer)
        return ENOMEM;
    *result = pointer;
    return 0;
}

void* valloc(std::size_t size) {
    note(Aligned);
    return __libc_valloc(size);
}

void* pvalloc(std::size_t size) {
    note(Aligned);
    return __libc_pvalloc(size);
}

} // extern "C"

namespace {

void* allocate(std::size_t size) {
    note(New);
    if (void* pointer = __libc_malloc(size ? size : 1))
        return pointer;
    throw std::bad_alloc();
}

void* allocateAligned(std::size_t size, std::align_val_t alignment) {
    note(New);
    if (void* pointer = __libc_memalign(static_cast<std::size_t>(alignment), size ? size : 1))
        return pointer;
    throw std::bad_alloc();
}

void release(void* pointer) noexcept {
    note(Delete);
    __libc_free(pointer);
}

} // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    note(New);
    return __libc_malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    note(New);
    return __libc_malloc(size ? size : 1);
}
void* operator new(std::size_t size, std::align_val_t alignment) { return allocateAligned(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return allocateAligned(size, alignment); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    note(New);
    return __libc_memalign(static_cast<std::size_t>(alignment), size ? size : 1);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    note(New);
    return __libc_memalign(static_cast<std::size_t>(alignment), size ? size : 1);
}

void operator delete(void* pointer) noexcept { release(pointer); }
void operator delete[](void* pointer) noexcept { release(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { release(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { release(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept { release(pointer); }
void operator delete[](void* pointer, const std::nothrow_t&) noexcept { release(pointer); }
void operator delete(void* pointer, std::align_val_t) noexcept { release(pointer); }
void operator delete[](void* pointer, std::align_val_t) noexcept { release(pointer); }
void operator delete(void* pointer, std::size_t, std::align_val_t) noexcept { release(pointer); }
void operator delete[](void* pointer, std::size_t, std::align_val_t) noexcept { release(pointer); }
void operator delete(void* pointer, std::align_val_t, const std::nothrow_t&) noexcept { release(pointer); }
void operator delete[](void* pointer, std::align_val_t, const std::nothrow_t&) noexcept { release(pointer); }

#endif

namespace corvane::test {

RealtimeChecker::RealtimeChecker() {
    for (int k = 0; k < kKinds; ++k)
        start_[k] = counts[k].load(std::memory_order_relaxed);
    pluginStart_ = pluginCalls.load(std::memory_order_relaxed);
}

std::uint64_t RealtimeChecker::pluginHeapCalls() const {
    return pluginCalls.load(std::memory_order_relaxed) - pluginStart_;
}

std::uint64_t RealtimeChecker::violations() const {
    std::uint64_t total = 0;
    for (int k = 0; k < kKinds; ++k)
        total += counts[k].load(std::memory_order_relaxed) - start_[k];
    return total;
}

std::string RealtimeChecker::report() const {
    std::string text;
    for (int k = 0; k < kKinds; ++k) {
        const auto n = counts[k].load(std::memory_order_relaxed) - start_[k];
        if (n == 0)
            continue;
        if (!text.empty())
            text += ", ";
        text += std::string(kKindNames[k]) + " " + std::to_string(n);
    }
    if (text.empty())
        text = "none";
    if (const auto plugin = pluginHeapCalls())
        text += " (and " + std::to_string(plugin) + " by plug-ins' own code)";
    return text;
}

bool RealtimeChecker::replacesMalloc() {
#if defined(__SANITIZE_ADDRESS__)
    return false;
#else
    return true;
#endif
}

} // namespace corvane::test
