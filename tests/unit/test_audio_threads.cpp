// How the live audio path sets up its threads: clean vector registers for threads born of a
// creator that left them dirty, and the batch policy on streaming threads, undone when they
// leave and never forced on a thread someone gave another policy.
#include <QtTest>

#include <sched.h>

#include <thread>

#include "platform/audio_threads.h"

namespace {

#if defined(__x86_64__) || defined(__i386__)
constexpr bool kX86 = true;
// XINUSE bit 2: the upper halves of ymm0-15 hold something (the state that costs SSE code).
bool upperVectorStateInUse() {
    if (!__builtin_cpu_supports("avx")) return false;
    unsigned eax, ebx, ecx, edx;
    __asm__ volatile("cpuid" : "=a"(eax), "=b"(ebx), "=c"(ecx), "=d"(edx) : "a"(0xd), "c"(1));
    if ((eax & (1u << 2)) == 0) return false;  // the processor cannot tell (no XGETBV 1)
    unsigned low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(1));
    return (low & (1u << 2)) != 0;
}
void dirtyUpperVectorState() { __asm__ volatile("vpcmpeqd %%ymm0, %%ymm0, %%ymm0" ::: "xmm0"); }
bool canObserveVectorState() {
    if (!__builtin_cpu_supports("avx")) return false;
    unsigned eax, ebx, ecx, edx;
    __asm__ volatile("cpuid" : "=a"(eax), "=b"(ebx), "=c"(ecx), "=d"(edx) : "a"(0xd), "c"(1));
    return (eax & (1u << 2)) != 0;
}
#else
constexpr bool kX86 = false;
bool upperVectorStateInUse() { return false; }
void dirtyUpperVectorState() {}
bool canObserveVectorState() { return false; }
#endif

}  // namespace

class TestAudioThreads : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dirtyVectorStateIsCleared() {
        if (!kX86 || !canObserveVectorState()) QSKIP("the processor does not show its AVX state");
        bool dirtyBefore = false;
        bool cleanAfter = false;
        std::thread thread([&] {
            dirtyUpperVectorState();
            dirtyBefore = upperVectorStateInUse();
            platform::clearUpperVectorState();
            cleanAfter = !upperVectorStateInUse();
        });
        thread.join();
        QVERIFY(dirtyBefore);
        QVERIFY(cleanAfter);
    }

    // A thread of the usual policy gets the batch policy and then its own back; one that was
    // given another policy keeps it. Only the calling thread changes.
    void streamingThreadPolicy_data() {
        QTest::addColumn<int>("given");
        QTest::addColumn<int>("during");
        QTest::newRow("usual policy") << SCHED_OTHER << SCHED_BATCH;
        QTest::newRow("another policy") << SCHED_IDLE << SCHED_IDLE;
    }

    void streamingThreadPolicy() {
        QFETCH(int, given);
        int during = -1;
        int after = -1;
        std::thread thread([&] {
            sched_param parameters{};
            if (sched_setscheduler(0, given, &parameters) != 0) return;
            platform::enterStreamingThread();
            during = sched_getscheduler(0);
            platform::leaveStreamingThread();
            after = sched_getscheduler(0);
        });
        thread.join();
        QTEST(during, "during");
        QCOMPARE(after, given);
        QCOMPARE(sched_getscheduler(0), SCHED_OTHER);
    }
};

QTEST_GUILESS_MAIN(TestAudioThreads)
#include "test_audio_threads.moc"
