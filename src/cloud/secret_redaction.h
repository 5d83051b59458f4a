#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

// Keeps private tokens and source passwords out of log lines and user-visible messages. The
// account document holds every channel's source password, and Qt's network error texts can quote
// the whole request URL, query token included.
namespace secrets {

// The JSON body with every member whose name contains "password" or "token" (any case) replaced
// by "<redacted>", compact; for a body that is not JSON only its size.
QString redactedBody(const QByteArray& body);

// The URL without its query (where the token travels).
QString withoutQuery(const QUrl& url);

// `text` with the URL's query values replaced by "<redacted>".
QString scrubbed(const QString& text, const QUrl& url);

}  // namespace secrets
