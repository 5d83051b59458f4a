// An Icecast server's public status page ("/status-json.xsl"): fetching it and reading its mounts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "broadcast/icecast_wire.h"

namespace platform {
class AbortableSocket;
}

// One mount a source is streaming to, as the status shows it. Text is UTF-8.
struct StatusMount {
    std::string mount;  // "/live"
    int listeners = 0;  // never negative
    // The current title as the server shows it ("artist - title" when it holds both apart).
    std::string title;
    std::string contentType;
};

struct ServerStatus {
    std::string serverId;  // "Icecast 2.4.4"; empty when the document does not say
    std::vector<StatusMount> mounts;

    // The mount with this path (a missing leading "/" is added); null when no source streams there.
    const StatusMount* find(std::string_view mount) const;
};

// Reads the status document's body. Icecast 2.4 writes JSON that is not always strict (bare
// words such as titles that look like numbers, empty values, raw control characters): those are
// read as text. "source" is an object for one mount, an array for several, absent for none.
// False when the bytes are not an Icecast status document. Pure, any thread, any bytes.
bool decodeServerStatus(std::string_view body, ServerStatus& status);

// What one fetch of the status page brought.
struct StatusFetch {
    int connectResult = 0;  // the socket, or one of platform's negative results
    std::string answer;     // everything received (head and body), at most about 4 MiB
    icecast::AnswerHead head;
    bool decoded = false;  // a 200 answer whose body is a status document
    ServerStatus status;
};

// Fetches "/status-json.xsl" from `address` (a name or a numeric address) at the request's port,
// with the request's host in the Host line. Blocks: the connect at most connectTimeoutMs, the
// answer at most answerTimeoutMs; `holder` (may be null) lets another thread abort it. Any thread.
StatusFetch fetchServerStatus(const icecast::SourceRequest& request, const std::string& address,
                              int connectTimeoutMs, int answerTimeoutMs,
                              platform::AbortableSocket* holder);
