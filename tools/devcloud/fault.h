#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

#include "http_connection.h"

// A planned misbehaviour of one endpoint of one account, so clients can be tried against slow,
// refusing and broken answers. Members of its JSON form (all optional):
//   "delay_ms"  answer this much later
//   "stall"     never answer (the client has to give up)
//   "status"    answer with this HTTP status; a 2xx status without "body" keeps the normal body
//   "message"   the message of the error body {"error": {"message", "uuid"}} (left out when absent)
//   "body"      exact body text (for "{}", malformed JSON, an HTML page, …)
//   "content_type"  defaults to text/html for a body starting with "<", else application/json
//   "times"     applies to this many requests, then disappears (default: until cleared)
// and, for listener requests of the streaming port (a GET of one of the account's mounts):
//   "refuse"          close the request at once (the source still passes through)
//   "another_stream"  a mount of the same Icecast whose stream listeners get instead
struct Fault {
    int delayMs = 0;
    bool stall = false;
    int status = 0;
    QString message;
    std::optional<QByteArray> body;
    QByteArray contentType;
    int remaining = -1;
    bool refuse = false;
    QString anotherStream;

    static std::optional<Fault> fromJson(const QJsonObject& json, QString* error);
    // True when the fault replaces the endpoint's own answer rather than only delaying it or
    // changing its status.
    bool replacesAnswer() const;
    HttpResponse response() const;
};

// The endpoint's own answer, produced possibly later (statistics come from Icecast); `done`
// must be called exactly once.
using AnswerProducer = std::function<void(std::function<void(HttpResponse)> done)>;

// Answers a request on `connection`: with the fault applied when there is one, otherwise with
// the endpoint's own answer. A connection that went away in the meantime is skipped.
void answerWithFault(const QPointer<HttpConnection>& connection, const std::optional<Fault>& fault,
                     const AnswerProducer& produce);
