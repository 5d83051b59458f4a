// The encoded packets made while a connect is in flight, kept to be sent first once the server
// accepts the source: bounded, and spoiled for good once a packet had to be dropped.
#pragma once

#include <deque>

#include <QByteArray>

// A dropped packet would leave a hole right after the stream's first packets, so a buffer that
// overflows empties itself and takes nothing more: the connection then starts a fresh stream.
//
// Main thread only; nothing blocks.
class PreConnectBuffer {
public:
    static constexpr int kMaxPackets = 128;
    static constexpr int kMaxBytes = 65536;

    // Keeps the packet unless the buffer is spoiled; one that does not fit spoils it.
    void append(const QByteArray& packet);
    // Empties the buffer for good (until reset).
    void spoil();
    bool isSpoiled() const { return m_spoiled; }
    // Empties the buffer and forgets a spoil, for the next connect.
    void reset();

    bool isEmpty() const { return m_packets.empty(); }
    // The oldest packet, taken out; call only when not empty.
    QByteArray takeFront();
    int bytes() const { return m_bytes; }

private:
    std::deque<QByteArray> m_packets;
    int m_bytes = 0;
    bool m_spoiled = false;
};
