// Send path of the Icecast source client against a real local Icecast: throughput and per-call
// latency of send() for 1 KiB and 4 KiB chunks, and the number of heap allocations that a
// successful send() makes (counted by wrapping the C allocator of this process).
//
//   build/bench/bench_icecast_send [seconds per size, default 5]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <malloc.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include "broadcast/icecast_client.h"
#include "icecast_server.h"

// Every allocation of this process goes through these; only the benchmark thread's are counted,
// and only while counting is switched on.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* pointer, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

thread_local bool t_counting = false;
std::atomic<long> g_allocations{0};

inline void countAllocation() {
    if (t_counting) g_allocations.fetch_add(1, std::memory_order_relaxed);
}

struct Counting {
    Counting() { t_counting = true; }
    ~Counting() { t_counting = false; }
};

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, size_t(p / 100.0 * double(values.size())));
    return values[index];
}

}  // namespace

extern "C" {
void* malloc(size_t size) {
    countAllocation();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    countAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* pointer, size_t size) {
    countAllocation();
    return __libc_realloc(pointer, size);
}
void* memalign(size_t alignment, size_t size) {
    countAllocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    countAllocation();
    *out = __libc_memalign(alignment, size);
    return *out ? 0 : 12;
}
void* aligned_alloc(size_t alignment, size_t size) {
    countAllocation();
    return __libc_memalign(alignment, size);
}
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;

    IcecastServer server;
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "icecast2 did not start: %s\n", qPrintable(error));
        return 1;
    }

    // The counter sees what it should: a byte array of its own allocates once.
    g_allocations = 0;
    {
        Counting counting;
        QByteArray probe(64, 'x');
        probe[0] = 'y';
    }
    std::printf("allocation counter self-check: %ld allocation(s) for one new QByteArray\n\n",
                g_allocations.load());

    std::printf(
        "| chunk | calls | throughput MiB/s | p50 µs | p99 µs | max µs | allocations per send |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (const int chunkBytes : {1024, 4096}) {
        IcecastClient client;
        QSignalSpy connected(&client, &IcecastClient::connected);
        client.connectToServerAsync(server.host(), server.port(),
                                    QStringLiteral("/bench%1").arg(chunkBytes),
                                    QStringLiteral("source"), server.options().sourcePassword);
        if (!connected.wait(10000)) {
            std::fprintf(stderr, "no connection\n");
            return 1;
        }
        // A receiver, as the health monitor is one in the application.
        qint64 reportedBytes = 0;
        QObject::connect(&client, &IcecastClient::sendCompleted,
                         [&reportedBytes](int bytes, qint64, bool) { reportedBytes += bytes; });

        QByteArray chunk(chunkBytes, '\0');
        for (int i = 0; i < chunkBytes; ++i) chunk[i] = char(i * 131 + 7);

        std::vector<double> latenciesUs;
        latenciesUs.reserve(2'000'000);
        long failures = 0;
        long allocations = 0;
        long calls = 0;
        QElapsedTimer total;
        total.start();
        while (total.elapsed() < qint64(seconds * 1000)) {
            // Sends in bursts, letting Icecast's own queue and the event loop breathe in between.
            for (int i = 0; i < 256; ++i) {
                g_allocations = 0;
                const auto start = std::chrono::steady_clock::now();
                bool ok;
                {
                    Counting counting;
                    ok = client.send(chunk);
                }
                const auto end = std::chrono::steady_clock::now();
                allocations += g_allocations.load();
                latenciesUs.push_back(
                    std::chrono::duration<double, std::micro>(end - start).count());
                ++calls;
                if (!ok) ++failures;
            }
            QCoreApplication::processEvents();
        }
        const double elapsedSeconds = double(total.nsecsElapsed()) / 1e9;
        const double mib = double(calls) * chunkBytes / (1024.0 * 1024.0);
        std::printf("| %d B | %ld | %.1f | %.1f | %.1f | %.1f | %.3f |\n", chunkBytes, calls,
                    mib / elapsedSeconds, percentile(latenciesUs, 50), percentile(latenciesUs, 99),
                    percentile(latenciesUs, 100), double(allocations) / double(calls));
        if (failures > 0) std::fprintf(stderr, "%ld sends failed\n", failures);
        if (reportedBytes != qint64(calls - failures) * chunkBytes) {
            std::fprintf(stderr, "sendCompleted reported %lld bytes\n", (long long)reportedBytes);
        }
        client.disconnectFromServer();
    }
    return 0;
}
