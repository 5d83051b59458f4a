// The pre-connect buffer: its bounds and the spoiled rule.
#include "broadcast/pre_connect_buffer.h"

#include "core/log_categories.h"

void PreConnectBuffer::append(const QByteArray& packet) {
    if (m_spoiled) return;
    const int size = static_cast<int>(packet.size());
    if (static_cast<int>(m_packets.size()) < kMaxPackets && m_bytes + size <= kMaxBytes) {
        m_packets.push_back(packet);
        m_bytes += size;
        return;
    }
    qCWarning(lcBroadcaster).noquote()
        << "Pre-connect buffer full (" << m_packets.size() << "packets," << m_bytes
        << "bytes) - the stream starts afresh once connected";
    spoil();
}

void PreConnectBuffer::spoil() {
    m_spoiled = true;
    m_packets.clear();
    m_bytes = 0;
}

void PreConnectBuffer::reset() {
    m_spoiled = false;
    m_packets.clear();
    m_bytes = 0;
}

QByteArray PreConnectBuffer::takeFront() {
    QByteArray packet = std::move(m_packets.front());
    m_packets.pop_front();
    m_bytes -= static_cast<int>(packet.size());
    return packet;
}
