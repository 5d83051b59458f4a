#pragma once

#include <QByteArray>
#include <QMetaObject>

#include <mutex>

class GStreamerMixer;

// Collects what a mixer's encoder branch hands out, straight on the streaming thread (a direct
// connection under a mutex of its own), so no test depends on queued events for it.
class EncodedCollector {
public:
    explicit EncodedCollector(GStreamerMixer& mixer);
    ~EncodedCollector();
    EncodedCollector(const EncodedCollector&) = delete;
    EncodedCollector& operator=(const EncodedCollector&) = delete;

    QByteArray bytes() const;
    qsizetype size() const;

private:
    mutable std::mutex m_mutex;
    QByteArray m_bytes;
    QMetaObject::Connection m_connection;
};
