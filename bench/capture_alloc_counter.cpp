#include "capture_alloc_counter.h"

#include <atomic>
#include <cerrno>
#include <cstddef>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);
}

namespace {
std::atomic<std::uint64_t> g_count{0};
thread_local bool t_watched = false;

inline void note() {
    if (t_watched) g_count.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

namespace alloccount {
void watchThisThread() { t_watched = true; }
void unwatchThisThread() { t_watched = false; }
std::uint64_t count() { return g_count.load(); }
void reset() { g_count.store(0); }
}  // namespace alloccount

extern "C" {

void* malloc(std::size_t size) {
    note();
    return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) {
    note();
    return __libc_calloc(count, size);
}

void* realloc(void* pointer, std::size_t size) {
    note();
    return __libc_realloc(pointer, size);
}

void free(void* pointer) { __libc_free(pointer); }

void* memalign(std::size_t alignment, std::size_t size) {
    note();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
    note();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size) {
    note();
    void* pointer = __libc_memalign(alignment, size);
    if (!pointer) return ENOMEM;
    *result = pointer;
    return 0;
}

}  // extern "C"
