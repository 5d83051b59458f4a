// The sent-stream window: the ring, its Ogg serial and its copy for the listener check.
#include "broadcast/sent_stream_window.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace {

bool holds(std::string_view haystack, std::string_view block) {
    if (block.empty() || block.size() > haystack.size()) return false;
    const std::boyer_moore_horspool_searcher searcher(block.begin(), block.end());
    return std::search(haystack.begin(), haystack.end(), searcher) != haystack.end();
}

}  // namespace

bool SentStreamWindow::Snapshot::contains(std::string_view block) const {
    return holds(bytes, block);
}

bool SentStreamWindow::Snapshot::packetsContain(std::string_view block) const {
    return holds(OggPageScanner::pageBodies(bytes), block);
}

bool SentStreamWindow::isOgg() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_isOgg;
}

SentStreamWindow::SentStreamWindow(std::size_t capacityBytes) : m_ring(capacityBytes) {}

void SentStreamWindow::reset(bool isOgg) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_next = 0;
    m_filled = 0;
    m_isOgg = isOgg;
    m_ogg.reset();
}

void SentStreamWindow::append(const char* data, std::size_t length) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ring.empty()) return;
    if (m_isOgg) m_ogg.feed(data, length);
    // Only the newest capacity's worth can stay.
    if (length > m_ring.size()) {
        data += length - m_ring.size();
        length = m_ring.size();
    }
    const std::size_t first = std::min(length, m_ring.size() - m_next);
    std::memcpy(m_ring.data() + m_next, data, first);
    std::memcpy(m_ring.data(), data + first, length - first);
    m_next = (m_next + length) % m_ring.size();
    m_filled = std::min(m_ring.size(), m_filled + length);
}

SentStreamWindow::Snapshot SentStreamWindow::snapshot() const {
    Snapshot copy;
    // The ring's size never changes; the copy's memory is taken before the lock.
    copy.bytes.reserve(m_ring.size());
    std::lock_guard<std::mutex> lock(m_mutex);
    copy.isOgg = m_isOgg;
    copy.hasBosSerial = m_ogg.hasBosSerial();
    copy.bosSerial = m_ogg.newestBosSerial();
    if (m_filled == 0) return copy;
    const std::size_t oldest = (m_next + m_ring.size() - m_filled) % m_ring.size();
    const std::size_t first = std::min(m_filled, m_ring.size() - oldest);
    copy.bytes.append(m_ring.data() + oldest, first);
    copy.bytes.append(m_ring.data(), m_filled - first);
    return copy;
}
