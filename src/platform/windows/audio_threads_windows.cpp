#include "platform/audio_threads.h"

#include <immintrin.h>
#include <intrin.h>

namespace platform {

namespace {

// GCC and Clang compile an intrinsic only inside a function built for its instruction set; the
// callers check at run time that the processor has it.
#if defined(__GNUC__)
#define DOREDORADAR_TARGET(features) __attribute__((target(features)))
#else
#define DOREDORADAR_TARGET(features)
#endif

DOREDORADAR_TARGET("xsave") unsigned long long enabledStateComponents() { return _xgetbv(0); }

DOREDORADAR_TARGET("avx") void zeroUpperHalves() { _mm256_zeroupper(); }

// vzeroupper faults on a processor without AVX; the operating system must also save the
// AVX state (OSXSAVE and XCR0 bits 1 and 2).
bool hasAvx() {
    static const bool avx = [] {
        int info[4] = {};
        __cpuid(info, 1);
        const bool osxsave = (info[2] & (1 << 27)) != 0;
        const bool avxBit = (info[2] & (1 << 28)) != 0;
        return osxsave && avxBit && (enabledStateComponents() & 0x6) == 0x6;
    }();
    return avx;
}

}  // namespace

// New Windows threads start from a clean register state, but a thread pool or a library may
// hand us one that ran AVX code; clearing is as cheap here as anywhere.
void clearUpperVectorState() {
    if (hasAvx()) zeroUpperHalves();
}

// Windows has no batch policy; its scheduler boosts the woken thread's priority only briefly.
void enterStreamingThread() { clearUpperVectorState(); }

void leaveStreamingThread() {}

}  // namespace platform
