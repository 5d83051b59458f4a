#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The bytes of the Icecast source protocol: request building, answer judging and the encodings
// they need. Pure functions over plain strings (UTF-8), with no sockets and no Qt, so that they
// can be tested and fuzzed on their own. Any thread.
namespace icecast {

// Everything that goes into a source or title request. Text is UTF-8.
struct SourceRequest {
    std::string host;  // the name the user gave; appears in the Host line
    std::uint16_t port = 8000;
    std::string mount;  // as given, possibly without the leading "/"
    std::string username;
    std::string password;
    std::string contentType = "audio/mpeg";
    std::string userAgent;  // "Doredoradar/<version>"; no User-Agent line when empty
    int bitrate = 128;
    int sampleRate = 44100;
    int channels = 2;
    std::string name;
    std::string description;
    std::string genre;
    std::string url;
    bool isPublic = false;
};

// Attempt 0 speaks PUT over HTTP/1.1 with "Expect: 100-continue"; attempt 1 is the SOURCE
// fallback over HTTP/1.0 for older servers.
inline constexpr int kPutAttempt = 0;
inline constexpr int kSourceAttempt = 1;

// The mount with a "/" put in front when it lacks one.
std::string normalizedMount(std::string_view mount);

// Empty when every field can go into a request line or header; otherwise a plain sentence that
// names the first field holding a line break or other control character (such a value could
// add headers or a second request).
std::string unsafeFieldReason(const SourceRequest& request);

// The source request of the given attempt. False when the credentials could not be encoded.
bool buildSourceRequest(const SourceRequest& request, int attempt, std::string& out);

// "artist - title", or the title alone when the artist is empty.
std::string songText(std::string_view title, std::string_view artist);

// The title request for /admin/metadata. False when the credentials could not be encoded.
bool buildMetadataRequest(const SourceRequest& request, std::string_view song, std::string& out);

// A plain listener's request for the mount (no credentials, no in-stream metadata asked for).
std::string buildListenerRequest(const SourceRequest& request);

enum class HandshakeVerdict {
    Accepted,              // 200, or 100 with no refusal in the same read
    InvalidResponse,       // no space in the answer
    StatusTooShort,        // fewer than three characters after the first space
    Unauthorized,          // 401
    MountInUse,            // 403
    BadRequestOrNotFound,  // 400 or 404: the PUT may be retried as SOURCE
    OtherStatus,           // anything else; no fallback
};

struct HandshakeStatus {
    HandshakeVerdict verdict = HandshakeVerdict::InvalidResponse;
    int status = 0;
};

// Judges the first read of the server's answer to a source request. The text counts up to its
// first NUL byte.
HandshakeStatus decideHandshakeStatus(const char* response, std::size_t length);

enum class MetadataReply {
    NoAnswer,  // nothing recognisable came back: the request is taken as delivered
    Accepted,
    Refused,
};

struct MetadataVerdict {
    MetadataReply reply = MetadataReply::NoAnswer;
    std::string serverText;  // what the server said, on one line, for the log
};

// The status code of an HTTP answer ("HTTP/1.0 200 OK" gives 200); -1 when the answer does not
// begin with an HTTP status line.
int httpStatusCode(std::string_view answer);

// Judges what a server answered to a title request (at most a few KiB, possibly cut short).
MetadataVerdict judgeMetadataAnswer(std::string_view answer);

// The status line and header block of an HTTP answer, as far as it has arrived.
struct AnswerHead {
    bool isHttp = false;  // "HTTP/" and a three-digit status
    int status = 0;
    bool complete = false;       // the blank line after the headers has arrived
    std::size_t bodyOffset = 0;  // where the body starts, when complete
};
AnswerHead readAnswerHead(std::string_view answer);

// The value of the first header called `name` (any case) in the answer's header block, without
// surrounding blanks; empty when there is none.
std::string headerValue(std::string_view answer, std::string_view name);

// The first line of a text with control characters as spaces, shortened for a message.
std::string printableFirstLine(std::string_view text);

// A plain GET of `path` on the request's host (no credentials), for public pages.
std::string buildGetRequest(const SourceRequest& request, std::string_view path);

// Percent-encodes `length` bytes: RFC 3986 unreserved bytes are copied, every other byte becomes
// "%" and two upper-case hex digits. Stops at the first byte whose output (plus the terminating
// NUL) does not fit; the output is always NUL-terminated when capacity > 0. Returns the output
// length without the NUL.
std::size_t percentEncode(const unsigned char* bytes, std::size_t length, char* output,
                          std::size_t capacity);
std::string percentEncode(std::string_view text);
// Like percentEncode, but leaves "/" as it is (for a mount path in a query).
std::string percentEncodePath(std::string_view path);

// Standard Base64 (with "=" padding) of a NUL-terminated byte string, in a buffer allocated with
// std::malloc that the caller frees with std::free; nullptr when allocation fails.
char* base64Encode(const char* text);

}  // namespace icecast
