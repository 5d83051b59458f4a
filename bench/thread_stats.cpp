#include "thread_stats.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <cstdio>

namespace threadstats {

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::uint64_t statusField(const QByteArray& status, const char* key) {
    for (const QByteArray& line : status.split('\n')) {
        if (line.startsWith(key)) return line.mid(qstrlen(key)).trimmed().toULongLong();
    }
    return 0;
}

}  // namespace

QList<Thread> snapshot() {
    QList<Thread> threads;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& entry : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString base = tasks.filePath(entry);
        Thread thread;
        thread.tid = entry.toInt();
        thread.name = QString::fromUtf8(readFile(base + QStringLiteral("/comm")).trimmed());
        // schedstat: time on a CPU (ns), time waiting to run (ns), slices.
        thread.cpuNs = readFile(base + QStringLiteral("/schedstat")).split(' ').value(0).toULongLong();
        const QByteArray status = readFile(base + QStringLiteral("/status"));
        thread.voluntarySwitches = statusField(status, "voluntary_ctxt_switches:");
        thread.involuntarySwitches = statusField(status, "nonvoluntary_ctxt_switches:");
        threads << thread;
    }
    return threads;
}

QList<Thread> difference(const QList<Thread>& before, const QList<Thread>& after) {
    QHash<int, Thread> earlier;
    for (const Thread& thread : before) earlier.insert(thread.tid, thread);
    QHash<QString, Thread> byName;
    QList<QString> order;
    for (const Thread& thread : after) {
        const Thread start = earlier.value(thread.tid);
        const bool same = start.tid == thread.tid;
        Thread& sum = byName[thread.name];
        if (sum.name.isEmpty()) {
            sum.name = thread.name;
            order << thread.name;
        }
        ++sum.tid;  // counts the threads of this name
        sum.cpuNs += thread.cpuNs - (same ? start.cpuNs : 0);
        sum.voluntarySwitches += thread.voluntarySwitches - (same ? start.voluntarySwitches : 0);
        sum.involuntarySwitches +=
            thread.involuntarySwitches - (same ? start.involuntarySwitches : 0);
    }
    QList<Thread> result;
    for (const QString& name : order) result << byName.value(name);
    std::sort(result.begin(), result.end(),
              [](const Thread& a, const Thread& b) { return a.cpuNs > b.cpuNs; });
    return result;
}

void print(const QList<Thread>& delta, double seconds, int maxRows) {
    std::uint64_t totalNs = 0;
    std::uint64_t totalWakeups = 0;
    for (const Thread& thread : delta) {
        totalNs += thread.cpuNs;
        totalWakeups += thread.voluntarySwitches;
    }
    std::printf("  %-22s %3s %11s %11s %11s\n", "thread", "n", "cpu s/min", "wakeups/s",
                "preempt/s");
    int rows = 0;
    for (const Thread& thread : delta) {
        if (rows++ >= maxRows) break;
        std::printf("  %-22s %3d %11.3f %11.1f %11.1f\n", qPrintable(thread.name), thread.tid,
                    thread.cpuNs / 1e9 / seconds * 60.0, thread.voluntarySwitches / seconds,
                    thread.involuntarySwitches / seconds);
    }
    std::printf("  %-22s %3s %11.3f %11.1f\n", "all threads", "", totalNs / 1e9 / seconds * 60.0,
                totalWakeups / seconds);
}

}  // namespace threadstats
