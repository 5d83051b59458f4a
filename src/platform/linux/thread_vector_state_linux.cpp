#include "platform/thread_vector_state.h"

namespace platform {

#if defined(__x86_64__) || defined(__i386__)

namespace {

// Decided once: vzeroupper would fault on a processor without AVX.
bool hasAvx() {
    static const bool avx = __builtin_cpu_supports("avx");
    return avx;
}

}  // namespace

void clearUpperVectorState() {
    if (hasAvx()) __asm__ volatile("vzeroupper" ::: "memory");
}

#else

void clearUpperVectorState() {}  // no such penalty on this architecture

#endif

}  // namespace platform
