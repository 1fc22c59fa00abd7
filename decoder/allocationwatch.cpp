#include "allocationwatch.h"

#include <cerrno>
#include <csignal>
#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#define RASTREL_WATCH_ALLOCATIONS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RASTREL_WATCH_ALLOCATIONS 0
#endif
#endif
#if !defined(RASTREL_WATCH_ALLOCATIONS) && defined(__GLIBC__)
#define RASTREL_WATCH_ALLOCATIONS 1
#endif
#if !defined(RASTREL_WATCH_ALLOCATIONS)
#define RASTREL_WATCH_ALLOCATIONS 0
#endif

namespace {

volatile std::sig_atomic_t allocationFailed = 0;

} // namespace

#if RASTREL_WATCH_ALLOCATIONS

namespace {

void *noted(void *pointer, bool wanted)
{
    if (pointer == nullptr && wanted)
        allocationFailed = 1;
    return pointer;
}

bool powerOfTwo(std::size_t n)
{
    return n != 0 && (n & (n - 1)) == 0;
}

} // namespace

// The C library's own allocator, which the functions below hand every request to. The program's
// definitions take the place of the library's for every library the program loads.
extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *pointer, std::size_t size);
void *__libc_memalign(std::size_t alignment, std::size_t size);

void *malloc(std::size_t size)
{
    return noted(__libc_malloc(size), size > 0);
}

void *calloc(std::size_t count, std::size_t size)
{
    return noted(__libc_calloc(count, size), count > 0 && size > 0);
}

void *realloc(void *pointer, std::size_t size)
{
    return noted(__libc_realloc(pointer, size), size > 0);
}

void *memalign(std::size_t alignment, std::size_t size)
{
    return noted(__libc_memalign(alignment, size), size > 0);
}

void *aligned_alloc(std::size_t alignment, std::size_t size)
{
    if (!powerOfTwo(alignment)) {
        errno = EINVAL;
        return nullptr;
    }
    return noted(__libc_memalign(alignment, size), size > 0);
}

int posix_memalign(void **out, std::size_t alignment, std::size_t size)
{
    if (!powerOfTwo(alignment) || alignment % sizeof(void *) != 0)
        return EINVAL;
    void *pointer = noted(__libc_memalign(alignment, size), size > 0);
    if (pointer == nullptr && size > 0)
        return ENOMEM;
    *out = pointer;
    return 0;
}
}

#endif

namespace AllocationWatch {

bool available()
{
    return RASTREL_WATCH_ALLOCATIONS != 0;
}

bool failed()
{
    return allocationFailed != 0;
}

} // namespace AllocationWatch
