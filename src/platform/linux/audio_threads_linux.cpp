#include "platform/audio_threads.h"

#include <sched.h>

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

namespace {

// Only between the normal policy and its batch variant: a thread someone made real-time, or
// anything else, keeps what it has. SCHED_BATCH has the same weight as SCHED_OTHER; what it
// gives up is preempting a running thread when it wakes. It needs no privilege.
void switchPolicy(int from, int to) {
    if (sched_getscheduler(0) != from) return;
    sched_param parameters{};
    parameters.sched_priority = 0;
    sched_setscheduler(0, to, &parameters);  // the calling thread only
}

}  // namespace

void enterStreamingThread() {
    clearUpperVectorState();
    switchPolicy(SCHED_OTHER, SCHED_BATCH);
}

// Pool threads are reused for other work; they go back as they came.
void leaveStreamingThread() { switchPolicy(SCHED_BATCH, SCHED_OTHER); }

}  // namespace platform
