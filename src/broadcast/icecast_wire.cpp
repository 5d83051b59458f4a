#include "broadcast/icecast_wire.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace icecast {

namespace {

// One entry per byte value: empty for a byte that is copied, else its three-character escape.
using EscapeTable = std::array<std::array<char, 4>, 256>;

constexpr bool isUnreserved(unsigned value) {
    return (value >= 'A' && value <= 'Z') || (value >= 'a' && value <= 'z') ||
           (value >= '0' && value <= '9') || value == '-' || value == '.' || value == '_' ||
           value == '~';
}

constexpr EscapeTable makeEscapeTable() {
    constexpr char kHex[] = "0123456789ABCDEF";
    EscapeTable table{};
    for (unsigned value = 0; value < 256; ++value) {
        if (isUnreserved(value)) continue;
        table[value] = {'%', kHex[value >> 4], kHex[value & 0xF], '\0'};
    }
    return table;
}

constexpr EscapeTable kEscapes = makeEscapeTable();

struct FreeDeleter {
    void operator()(char* buffer) const { std::free(buffer); }
};
using MallocText = std::unique_ptr<char, FreeDeleter>;

bool hasControlCharacter(std::string_view text) {
    for (const char c : text) {
        const auto value = static_cast<unsigned char>(c);
        if (value < 0x20 || value == 0x7F) return true;
    }
    return false;
}

std::string hostLine(const SourceRequest& request) {
    std::string line = "Host: " + request.host;
    if (request.port != 80) line += ":" + std::to_string(request.port);
    return line + "\r\n";
}

// "Basic" credentials of username:password, or nothing when allocation failed.
MallocText basicCredentials(const SourceRequest& request) {
    const std::string pair = request.username + ":" + request.password;
    return MallocText(base64Encode(pair.c_str()));
}

// The answer text on one line with control characters as spaces, shortened for a log line.
std::string oneLine(std::string_view text) {
    constexpr std::size_t kMaxQuote = 200;
    std::string line;
    for (const char c : text.substr(0, kMaxQuote)) {
        const auto value = static_cast<unsigned char>(c);
        line += (value < 0x20 || value == 0x7F) ? ' ' : c;
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

bool containsIgnoringCase(std::string_view text, std::string_view needle) {
    if (needle.size() > text.size()) return false;
    for (std::size_t start = 0; start + needle.size() <= text.size(); ++start) {
        bool match = true;
        for (std::size_t i = 0; i < needle.size() && match; ++i) {
            const auto a = static_cast<unsigned char>(text[start + i]);
            const auto b = static_cast<unsigned char>(needle[i]);
            match = (a >= 'A' && a <= 'Z' ? a + 32 : a) == (b >= 'A' && b <= 'Z' ? b + 32 : b);
        }
        if (match) return true;
    }
    return false;
}

// Decimal value of up to three characters, read as atoi reads them (leading blanks, a sign,
// digits until the first other character).
int statusValue(const char* digits) {
    std::size_t i = 0;
    while (i < 3 && (digits[i] == ' ' || (digits[i] >= '\t' && digits[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < 3 && (digits[i] == '+' || digits[i] == '-')) {
        negative = digits[i] == '-';
        ++i;
    }
    int value = 0;
    for (; i < 3 && digits[i] >= '0' && digits[i] <= '9'; ++i)
        value = value * 10 + (digits[i] - '0');
    return negative ? -value : value;
}

void appendUserAgent(const SourceRequest& request, std::string& out) {
    if (request.userAgent.empty()) return;
    out += "User-Agent: ";
    out += request.userAgent;
    out += "\r\n";
}

}  // namespace

std::string normalizedMount(std::string_view mount) {
    if (!mount.empty() && mount.front() == '/') return std::string(mount);
    return "/" + std::string(mount);
}

std::string unsafeFieldReason(const SourceRequest& request) {
    const std::pair<const std::string*, const char*> fields[] = {
        {&request.host, "The server host name"}, {&request.mount, "The mount point"},
        {&request.username, "The user name"},    {&request.password, "The password"},
        {&request.name, "The stream name"},      {&request.description, "The stream description"},
        {&request.genre, "The stream genre"},    {&request.url, "The stream URL"},
    };
    for (const auto& [value, label] : fields) {
        if (hasControlCharacter(*value)) {
            return std::string(label) + " must not contain line breaks or other control characters";
        }
    }
    return {};
}

bool buildSourceRequest(const SourceRequest& request, int attempt, std::string& out) {
    const MallocText credentials = basicCredentials(request);
    if (!credentials) return false;
    const std::string bitrate = std::to_string(request.bitrate);
    out.clear();
    out += attempt == kPutAttempt ? "PUT " : "SOURCE ";
    out += normalizedMount(request.mount);
    out += attempt == kPutAttempt ? " HTTP/1.1\r\n" : " HTTP/1.0\r\n";
    out += "Authorization: Basic ";
    out += credentials.get();
    out += "\r\n";
    out += hostLine(request);
    appendUserAgent(request, out);
    out += "Content-Type: ";
    out += request.contentType;
    out += "\r\n";
    out += "ice-bitrate: " + bitrate + "\r\n";
    out += "ice-audio-info: ice-bitrate=" + bitrate +
           ";ice-channels=" + std::to_string(request.channels) +
           ";ice-samplerate=" + std::to_string(request.sampleRate) + "\r\n";
    if (!request.name.empty()) out += "ice-name: " + request.name + "\r\n";
    if (!request.description.empty()) out += "ice-description: " + request.description + "\r\n";
    if (!request.genre.empty()) out += "ice-genre: " + request.genre + "\r\n";
    if (!request.url.empty()) out += "ice-url: " + request.url + "\r\n";
    out += request.isPublic ? "ice-public: 1\r\n" : "ice-public: 0\r\n";
    if (attempt == kPutAttempt) out += "Expect: 100-continue\r\n";
    out += "\r\n";
    return true;
}

std::string songText(std::string_view title, std::string_view artist) {
    if (artist.empty()) return std::string(title);
    return std::string(artist) + " - " + std::string(title);
}

bool buildMetadataRequest(const SourceRequest& request, std::string_view song, std::string& out) {
    const MallocText credentials = basicCredentials(request);
    if (!credentials) return false;
    out = "GET /admin/metadata?mode=updinfo&mount=" +
          percentEncodePath(normalizedMount(request.mount)) + "&song=" + percentEncode(song) +
          " HTTP/1.0\r\n";
    appendUserAgent(request, out);
    out += "Authorization: Basic ";
    out += credentials.get();
    out += "\r\n";
    out += hostLine(request);
    out += "\r\n";
    return true;
}

std::string buildListenerRequest(const SourceRequest& request) {
    return buildGetRequest(request, percentEncodePath(normalizedMount(request.mount)));
}

HandshakeStatus decideHandshakeStatus(const char* response, std::size_t length) {
    // The answer is read as C text: whatever follows a NUL byte does not count.
    const std::string_view text(response ? response : "", response ? strnlen(response, length) : 0);
    const std::size_t space = text.find(' ');
    if (space == std::string_view::npos) return {HandshakeVerdict::InvalidResponse, 0};
    if (text.size() - space - 1 < 3) return {HandshakeVerdict::StatusTooShort, 0};

    int status = statusValue(text.data() + space + 1);
    if (status == 100) {
        // "100 Continue" may be followed in the same read by the server's real verdict.
        if (text.find(" 401 ") != std::string_view::npos) {
            status = 401;
        } else if (text.find(" 403 ") != std::string_view::npos) {
            status = 403;
        } else if (text.find(" 400 ") != std::string_view::npos) {
            status = 400;
        } else {
            return {HandshakeVerdict::Accepted, 100};
        }
    }
    switch (status) {
        case 200:
            return {HandshakeVerdict::Accepted, status};
        case 401:
            return {HandshakeVerdict::Unauthorized, status};
        case 403:
            return {HandshakeVerdict::MountInUse, status};
        case 400:
        case 404:
            return {HandshakeVerdict::BadRequestOrNotFound, status};
        default:
            return {HandshakeVerdict::OtherStatus, status};
    }
}

int httpStatusCode(std::string_view answer) {
    const AnswerHead head = readAnswerHead(answer);
    return head.isHttp ? head.status : -1;
}

MetadataVerdict judgeMetadataAnswer(std::string_view answer) {
    const std::string_view statusLine = answer.substr(0, answer.find_first_of("\r\n"));
    const int status = httpStatusCode(answer);
    if (status < 0) return {MetadataReply::NoAnswer, oneLine(statusLine)};

    // The server's own words, when it wrapped them in an XML message element.
    std::string_view message;
    constexpr std::string_view kOpen = "<message>";
    constexpr std::string_view kClose = "</message>";
    const std::size_t open = answer.find(kOpen);
    if (open != std::string_view::npos) {
        const std::size_t close = answer.find(kClose, open + kOpen.size());
        if (close != std::string_view::npos) {
            message = answer.substr(open + kOpen.size(), close - open - kOpen.size());
        }
    }

    std::string quote = oneLine(statusLine);
    if (!message.empty()) quote += ": " + oneLine(message);
    if (status / 100 != 2) return {MetadataReply::Refused, quote};
    if (!message.empty() && !containsIgnoringCase(message, "success")) {
        return {MetadataReply::Refused, quote};
    }
    return {MetadataReply::Accepted, quote};
}

AnswerHead readAnswerHead(std::string_view answer) {
    AnswerHead head;
    const std::string_view statusLine = answer.substr(0, answer.find_first_of("\r\n"));
    const std::size_t space = statusLine.find(' ');
    if (statusLine.substr(0, 5) != "HTTP/" || space == std::string_view::npos ||
        statusLine.size() < space + 4) {
        return head;
    }
    int status = 0;
    for (const char c : statusLine.substr(space + 1, 3)) {
        if (c < '0' || c > '9') return head;
        status = status * 10 + (c - '0');
    }
    head.isHttp = true;
    head.status = status;
    // Servers that end lines with a bare LF exist; either form ends the block.
    for (const std::string_view end : {std::string_view("\r\n\r\n"), std::string_view("\n\n")}) {
        const std::size_t at = answer.find(end);
        if (at != std::string_view::npos && (!head.complete || at + end.size() < head.bodyOffset)) {
            head.complete = true;
            head.bodyOffset = at + end.size();
        }
    }
    return head;
}

std::string headerValue(std::string_view answer, std::string_view name) {
    const AnswerHead head = readAnswerHead(answer);
    const std::string_view block = head.complete ? answer.substr(0, head.bodyOffset) : answer;
    std::size_t start = block.find('\n');
    while (start != std::string_view::npos && start + 1 < block.size()) {
        const std::size_t end = block.find('\n', start + 1);
        std::string_view line = block.substr(
            start + 1, end == std::string_view::npos ? std::string_view::npos : end - start - 1);
        const std::size_t colon = line.find(':');
        if (colon == name.size() && containsIgnoringCase(line.substr(0, colon), name)) {
            line.remove_prefix(colon + 1);
            while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
                line.remove_prefix(1);
            while (!line.empty() &&
                   (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
                line.remove_suffix(1);
            return oneLine(line);
        }
        start = end;
    }
    return {};
}

std::string printableFirstLine(std::string_view text) {
    return oneLine(text.substr(0, text.find_first_of("\r\n")));
}

std::string buildGetRequest(const SourceRequest& request, std::string_view path) {
    std::string out = "GET " + std::string(path) + " HTTP/1.0\r\n";
    appendUserAgent(request, out);
    out += hostLine(request);
    out += "\r\n";
    return out;
}

std::size_t percentEncode(const unsigned char* bytes, std::size_t length, char* output,
                          std::size_t capacity) {
    if (capacity == 0) return 0;
    std::size_t written = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const auto& escape = kEscapes[bytes[i]];
        if (escape[0] == '\0') {
            if (written + 1 + 1 > capacity) break;
            output[written++] = static_cast<char>(bytes[i]);
        } else {
            if (written + 3 + 1 > capacity) break;
            output[written++] = escape[0];
            output[written++] = escape[1];
            output[written++] = escape[2];
        }
    }
    output[written] = '\0';
    return written;
}

std::string percentEncode(std::string_view text) {
    std::string out(text.size() * 3 + 1, '\0');
    const std::size_t length = percentEncode(reinterpret_cast<const unsigned char*>(text.data()),
                                             text.size(), out.data(), out.size());
    out.resize(length);
    return out;
}

std::string percentEncodePath(std::string_view path) {
    std::string out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = path.find('/', start);
        out += percentEncode(path.substr(start, slash - start));
        if (slash == std::string_view::npos) break;
        out += '/';
        start = slash + 1;
    }
    return out;
}

char* base64Encode(const char* text) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    const std::size_t length = std::strlen(text);
    char* out = static_cast<char*>(std::malloc((length + 2) / 3 * 4 + 1));
    if (!out) return nullptr;
    std::size_t o = 0;
    std::size_t i = 0;
    for (; i + 2 < length; i += 3) {
        const unsigned triple = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        out[o++] = kAlphabet[(triple >> 18) & 0x3F];
        out[o++] = kAlphabet[(triple >> 12) & 0x3F];
        out[o++] = kAlphabet[(triple >> 6) & 0x3F];
        out[o++] = kAlphabet[triple & 0x3F];
    }
    if (i < length) {
        const unsigned first = bytes[i];
        const unsigned second = i + 1 < length ? bytes[i + 1] : 0;
        const unsigned pair = (first << 16) | (second << 8);
        out[o++] = kAlphabet[(pair >> 18) & 0x3F];
        out[o++] = kAlphabet[(pair >> 12) & 0x3F];
        out[o++] = i + 1 < length ? kAlphabet[(pair >> 6) & 0x3F] : '=';
        out[o++] = '=';
    }
    out[o] = '\0';
    return out;
}

}  // namespace icecast
