// libFuzzer target for the Icecast protocol's pure functions: the handshake verdict, the title
// answer verdict, percent-encoding into a tight buffer, and request building (no value that
// passes the safety check may add a header line). The first input byte picks the function.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "broadcast/icecast_wire.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

bool isUnreserved(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void fuzzHandshake(const std::uint8_t* data, std::size_t size) {
    // An exact-size heap copy, so reading past the end is caught.
    std::vector<char> copy(data, data + size);
    const icecast::HandshakeStatus status =
        icecast::decideHandshakeStatus(copy.data(), copy.size());
    using V = icecast::HandshakeVerdict;
    switch (status.verdict) {
        case V::Accepted:
            check(status.status == 200 || status.status == 100);
            break;
        case V::Unauthorized:
            check(status.status == 401);
            break;
        case V::MountInUse:
            check(status.status == 403);
            break;
        case V::BadRequestOrNotFound:
            check(status.status == 400 || status.status == 404);
            break;
        case V::OtherStatus:
            check(status.status != 100 && status.status != 200 && status.status != 401 &&
                  status.status != 403 && status.status != 400 && status.status != 404);
            check(status.status > -100 && status.status < 1000);
            break;
        case V::InvalidResponse:
        case V::StatusTooShort:
            check(status.status == 0);
            break;
    }
}

void fuzzPercentEncode(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return;
    const std::size_t capacity = data[0];
    ++data;
    --size;
    std::vector<char> out(capacity);  // exact size: an overrun is caught
    const std::size_t length = icecast::percentEncode(data, size, out.data(), capacity);
    if (capacity == 0) {
        check(length == 0);
        return;
    }
    check(length < capacity);
    check(out[length] == '\0');
    // Decoding gives back a prefix of the input, and only whole escapes were written.
    std::size_t consumed = 0;
    for (std::size_t i = 0; i < length;) {
        if (out[i] == '%') {
            check(i + 2 < length);
            const int high = hexValue(out[i + 1]);
            const int low = hexValue(out[i + 2]);
            check(high >= 0 && low >= 0);
            const auto byte = static_cast<std::uint8_t>(high * 16 + low);
            check(!isUnreserved(static_cast<char>(byte)));
            check(consumed < size && data[consumed] == byte);
            i += 3;
        } else {
            check(isUnreserved(out[i]));
            check(consumed < size && data[consumed] == static_cast<std::uint8_t>(out[i]));
            ++i;
        }
        ++consumed;
    }
    // It stopped only because the next byte did not fit.
    if (consumed < size) {
        const bool escape = !isUnreserved(static_cast<char>(data[consumed]));
        check(length + (escape ? 3 : 1) + 1 > capacity);
    }
}

void fuzzMetadataAnswer(const std::uint8_t* data, std::size_t size) {
    std::vector<char> copy(data, data + size);
    const icecast::MetadataVerdict verdict =
        icecast::judgeMetadataAnswer(std::string_view(copy.data(), copy.size()));
    for (const char c : verdict.serverText) {
        check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
    }
}

void fuzzRequest(const std::uint8_t* data, std::size_t size) {
    // Fields separated by NUL bytes.
    std::vector<std::string> fields(8);
    std::size_t field = 0;
    for (std::size_t i = 0; i < size && field < fields.size(); ++i) {
        if (data[i] == 0) {
            ++field;
        } else {
            fields[field] += static_cast<char>(data[i]);
        }
    }
    icecast::SourceRequest request;
    request.host = fields[0];
    request.mount = fields[1];
    request.username = fields[2];
    request.password = fields[3];
    request.name = fields[4];
    request.description = fields[5];
    request.genre = fields[6];
    request.url = fields[7];
    request.port = static_cast<std::uint16_t>(size * 257);
    request.isPublic = size % 2;
    if (!icecast::unsafeFieldReason(request).empty()) return;

    for (int attempt = icecast::kPutAttempt; attempt <= icecast::kSourceAttempt; ++attempt) {
        std::string bytes;
        check(icecast::buildSourceRequest(request, attempt, bytes));
        // Header block: CRLF-separated lines, no stray CR or LF, exactly one empty line at the end.
        check(bytes.size() >= 4 && bytes.compare(bytes.size() - 4, 4, "\r\n\r\n") == 0);
        std::size_t lines = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == '\r') {
                check(i + 1 < bytes.size() && bytes[i + 1] == '\n');
                ++lines;
            } else if (bytes[i] == '\n') {
                check(i > 0 && bytes[i - 1] == '\r');
            }
        }
        // Fixed lines, the optional user agent, ice-public, the final empty line.
        std::size_t expected = 6 + (request.userAgent.empty() ? 0 : 1) + 1 + 1;
        for (int i = 4; i < 8; ++i) expected += fields[i].empty() ? 0 : 1;
        if (attempt == icecast::kPutAttempt) ++expected;
        check(lines == expected);
    }

    std::string title(fields[4]);
    std::string bytes;
    check(icecast::buildMetadataRequest(request, title, bytes));
    check(bytes.find('\n') == bytes.find("\r\n") + 1);
    const std::string firstLine = bytes.substr(0, bytes.find("\r\n"));
    // The query carries no raw space, ampersand beyond its own, or control character.
    check(firstLine.rfind(" HTTP/1.0") == firstLine.size() - 9);
    const std::string query = firstLine.substr(0, firstLine.size() - 9);
    check(query.find(' ', 4) == std::string::npos);
    std::size_t ampersands = 0;
    for (const char c : query) ampersands += c == '&' ? 1 : 0;
    check(ampersands == 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t selector = data[0] % 4;
    ++data;
    --size;
    switch (selector) {
        case 0:
            fuzzHandshake(data, size);
            break;
        case 1:
            fuzzPercentEncode(data, size);
            break;
        case 2:
            fuzzMetadataAnswer(data, size);
            break;
        default:
            fuzzRequest(data, size);
            break;
    }
    return 0;
}
