#pragma once

#include <QList>
#include <QString>

#include <cstdint>

// Where a benchmark process spends its CPU: per thread, the time on a CPU (the scheduler's own
// nanosecond account) and the times it went to sleep (voluntary context switches, i.e.
// wake-ups) or was pushed off (involuntary), read from /proc/self/task.
namespace threadstats {

struct Thread {
    int tid = 0;
    QString name;
    std::uint64_t cpuNs = 0;
    std::uint64_t voluntarySwitches = 0;
    std::uint64_t involuntarySwitches = 0;
};

QList<Thread> snapshot();

// What each thread did between two snapshots; threads that ended in between are lost, threads
// that started count from zero. Threads of one name (the two decks' feeders, a pool's workers)
// are added up, so the table reads the same from run to run.
QList<Thread> difference(const QList<Thread>& before, const QList<Thread>& after);

// A table of the busiest threads, CPU per minute and wake-ups per second over `seconds`.
void print(const QList<Thread>& delta, double seconds, int maxRows = 16);

}  // namespace threadstats
