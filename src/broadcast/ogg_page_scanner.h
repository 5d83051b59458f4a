// Ogg page headers picked out of a byte stream as it passes, for the stream serials it carries.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Reads Ogg page headers from a stream fed in pieces of any size (a header may span pieces):
// remembers the serial of the newest page that opens a stream (BOS) and the first few distinct
// serials seen. Holds no allocation, so it may run on the audio path. Not thread-safe: one
// thread feeds and reads it (or the owner guards it).
class OggPageScanner {
public:
    static constexpr std::size_t kMaxSerials = 8;

    // The bodies of the whole pages in `bytes`, joined: the stream's packets without their
    // framing, the same however a server cut them into pages. Bytes before the first page and a
    // page cut short at the end are left out.
    static std::string pageBodies(std::string_view bytes);

    void reset();
    void feed(const char* data, std::size_t length);

    bool hasBosSerial() const { return m_hasBos; }
    std::uint32_t newestBosSerial() const { return m_newestBos; }
    // Whether any page of `serial` went past (only the first kMaxSerials serials are kept).
    bool sawSerial(std::uint32_t serial) const;
    std::size_t serialCount() const { return m_serialCount; }

private:
    void pageHeader(std::uint8_t headerType, std::uint32_t serial);

    // Bytes 0..17 of the header being read: capture pattern, version, type, granule, serial.
    std::array<std::uint8_t, 18> m_header{};
    std::size_t m_matched = 0;
    bool m_hasBos = false;
    std::uint32_t m_newestBos = 0;
    std::array<std::uint32_t, kMaxSerials> m_serials{};
    std::size_t m_serialCount = 0;
};
