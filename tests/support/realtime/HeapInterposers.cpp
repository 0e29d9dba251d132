// Stand-ins for the allocator: malloc, calloc, realloc, free, the aligned
// variants and every form of operator new and delete note themselves (Tally.h)
// and hand on to glibc's own entry points, which stay reachable under their
// __libc_ names.
//
// Under the address sanitizer the allocator belongs to the sanitizer, and
// replacing malloc there would bypass it; heap calls are then counted through
// the sanitizer's allocation hooks instead, which see the same calls (new and
// delete included) but cannot tell their kinds apart.
#include "tests/support/realtime/Tally.h"

#include <cerrno>
#include <cstddef>
#include <new>

using namespace corvane::test::realtime;

#if defined(__SANITIZE_ADDRESS__)

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, std::size_t),
                                                         void (*free_hook)(const volatile void*));

namespace {

void onAllocation(const volatile void*, std::size_t) { note(Allocation); }
void onRelease(const volatile void*) { note(Release); }

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

// Defines the C function `name`: it notes `call` and hands on to glibc's own `target`.
#define CORVANE_HEAP(call, result, name, parameters, target, arguments)                                        \
    extern "C" result name parameters {                                                                        \
        note(call);                                                                                            \
        return target arguments;                                                                               \
    }

CORVANE_HEAP(Malloc, void*, malloc, (std::size_t size), __libc_malloc, (size))
CORVANE_HEAP(Calloc, void*, calloc, (std::size_t count, std::size_t size), __libc_calloc, (count, size))
CORVANE_HEAP(Realloc, void*, realloc, (void* pointer, std::size_t size), __libc_realloc, (pointer, size))
CORVANE_HEAP(Free, void, free, (void* pointer), __libc_free, (pointer))
CORVANE_HEAP(AlignedAlloc, void*, memalign, (std::size_t alignment, std::size_t size), __libc_memalign,
             (alignment, size))
CORVANE_HEAP(AlignedAlloc, void*, aligned_alloc, (std::size_t alignment, std::size_t size), __libc_memalign,
             (alignment, size))
CORVANE_HEAP(AlignedAlloc, void*, valloc, (std::size_t size), __libc_valloc, (size))
CORVANE_HEAP(AlignedAlloc, void*, pvalloc, (std::size_t size), __libc_pvalloc, (size))

extern "C" int posix_memalign(void** result, std::size_t alignment, std::size_t size) {
    note(AlignedAlloc);
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void* pointer = __libc_memalign(alignment, size);
    if (!pointer)
        return ENOMEM;
    *result = pointer;
    return 0;
}

namespace {

// Every operator new: null when the heap is out, for the throwing ones to turn
// into bad_alloc.
void* allocate(std::size_t size, std::size_t alignment = 0) noexcept {
    note(OperatorNew);
    size = size ? size : 1;
    return alignment ? __libc_memalign(alignment, size) : __libc_malloc(size);
}

void* orThrow(void* pointer) {
    if (!pointer)
        throw std::bad_alloc();
    return pointer;
}

std::size_t bytes(std::align_val_t alignment) { return static_cast<std::size_t>(alignment); }

void release(void* pointer) noexcept {
    note(OperatorDelete);
    __libc_free(pointer);
}

} // namespace

void* operator new(std::size_t size) { return orThrow(allocate(size)); }
void* operator new[](std::size_t size) { return orThrow(allocate(size)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t alignment) { return orThrow(allocate(size, bytes(alignment))); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return orThrow(allocate(size, bytes(alignment))); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate(size, bytes(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return allocate(size, bytes(alignment));
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
