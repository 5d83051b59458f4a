// The newest stretch of the stream that went to the server, kept to recognise it from a
// listener's side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "broadcast/ogg_page_scanner.h"

// A fixed ring of the newest bytes sent, and for Ogg the serial of the newest stream opened in
// them. append runs on the send path: it copies into memory held since construction and never
// allocates; snapshot may run on any other thread. Both take one short mutex.
class SentStreamWindow {
public:
    // Icecast gives a new listener up to 64 KiB from the past; the rest covers a few seconds of
    // the highest bit rate while the listener's first bytes arrive.
    static constexpr std::size_t kDefaultCapacityBytes = 256 * 1024;

    struct Snapshot {
        std::string bytes;  // oldest first
        bool isOgg = false;
        bool hasBosSerial = false;
        std::uint32_t bosSerial = 0;

        // Whether `block` appears as it is somewhere in the bytes.
        bool contains(std::string_view block) const;
        // Whether `block` appears in the bodies of the Ogg pages, joined.
        bool packetsContain(std::string_view block) const;
    };

    explicit SentStreamWindow(std::size_t capacityBytes = kDefaultCapacityBytes);

    // Forgets everything: a new stream starts; `isOgg` turns the serial tracking on.
    void reset(bool isOgg);
    void append(const char* data, std::size_t length);
    bool isOgg() const;
    Snapshot snapshot() const;

private:
    mutable std::mutex m_mutex;
    std::vector<char> m_ring;
    std::size_t m_next = 0;  // where the next byte goes
    std::size_t m_filled = 0;
    bool m_isOgg = false;
    OggPageScanner m_ogg;
};
