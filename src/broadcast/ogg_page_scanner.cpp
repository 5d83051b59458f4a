// The Ogg page scanner: a byte-at-a-time match of page headers.
#include "broadcast/ogg_page_scanner.h"

#include <algorithm>

namespace {

constexpr std::uint8_t kCapture[] = {'O', 'g', 'g', 'S'};
constexpr std::size_t kVersionAt = 4;
constexpr std::size_t kTypeAt = 5;
constexpr std::size_t kSerialAt = 14;
constexpr std::uint8_t kBosFlag = 0x02;

}  // namespace

std::string OggPageScanner::pageBodies(std::string_view bytes) {
    constexpr std::size_t kHeaderBytes = 27;
    std::string bodies;
    bodies.reserve(bytes.size());
    std::size_t at = bytes.find("OggS");
    while (at != std::string_view::npos && at + kHeaderBytes <= bytes.size()) {
        const auto header = reinterpret_cast<const std::uint8_t*>(bytes.data() + at);
        const std::size_t segments = header[kHeaderBytes - 1];
        std::size_t bodyBytes = 0;
        const bool tableIn = at + kHeaderBytes + segments <= bytes.size();
        for (std::size_t i = 0; tableIn && i < segments; ++i) bodyBytes += header[kHeaderBytes + i];
        const std::size_t bodyAt = at + kHeaderBytes + segments;
        if (!tableIn || bodyAt + bodyBytes > bytes.size()) break;  // cut short
        if (header[kVersionAt] != 0) {
            at = bytes.find("OggS", at + 1);  // not a page: look for the next one
            continue;
        }
        bodies.append(bytes.substr(bodyAt, bodyBytes));
        at = bodyAt + bodyBytes;
        if (bytes.substr(at, 4) != "OggS") at = bytes.find("OggS", at);
    }
    return bodies;
}

void OggPageScanner::reset() { *this = OggPageScanner(); }

void OggPageScanner::feed(const char* data, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        const auto byte = static_cast<std::uint8_t>(data[i]);
        if (m_matched < sizeof(kCapture)) {
            // Within "OggS" a mismatch can only restart at an "O".
            m_matched = byte == kCapture[m_matched] ? m_matched + 1 : (byte == 'O' ? 1 : 0);
            if (m_matched > 0) m_header[m_matched - 1] = byte;
            continue;
        }
        m_header[m_matched++] = byte;
        if (m_matched == kVersionAt + 1 && byte != 0) {
            m_matched = byte == 'O' ? 1 : 0;  // not a page (version 0 is the only one)
            continue;
        }
        if (m_matched < m_header.size()) continue;
        const std::uint32_t serial = std::uint32_t(m_header[kSerialAt]) |
                                     std::uint32_t(m_header[kSerialAt + 1]) << 8 |
                                     std::uint32_t(m_header[kSerialAt + 2]) << 16 |
                                     std::uint32_t(m_header[kSerialAt + 3]) << 24;
        pageHeader(m_header[kTypeAt], serial);
        m_matched = 0;
    }
}

void OggPageScanner::pageHeader(std::uint8_t headerType, std::uint32_t serial) {
    if (headerType & kBosFlag) {
        m_hasBos = true;
        m_newestBos = serial;
    }
    if (!sawSerial(serial) && m_serialCount < kMaxSerials) m_serials[m_serialCount++] = serial;
}

bool OggPageScanner::sawSerial(std::uint32_t serial) const {
    const auto end = m_serials.begin() + static_cast<std::ptrdiff_t>(m_serialCount);
    return std::find(m_serials.begin(), end, serial) != end;
}
