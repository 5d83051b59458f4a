// Fetching and reading an Icecast server's public status page.
#include "broadcast/server_status.h"

#include <algorithm>
#include <climits>

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include "platform/socket.h"

namespace {

constexpr std::size_t kMaxAnswerBytes = 4 * 1024 * 1024;
constexpr char kStatusPath[] = "/status-json.xsl";

bool isStructural(char c) {
    return c == '{' || c == '}' || c == '[' || c == ']' || c == ':' || c == ',' || c == '"';
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

void appendEscaped(std::string& out, unsigned char c) {
    static constexpr char kHex[] = "0123456789abcdef";
    out += "\\u00";
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Rewrites what Icecast 2.4 writes into strict JSON: every bare word (a title like 0123 or 1.,
// but numbers as well) becomes a string, so that nothing is lost to a number's rounding; an
// empty value becomes null; raw control characters and stray backslashes in strings are escaped.
std::string strictJson(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8 + 16);
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '"') {
            out += '"';
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                const auto value = static_cast<unsigned char>(text[i]);
                if (value == '\\') {
                    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
                    const bool unicode =
                        next == 'u' && i + 5 < text.size() &&
                        std::all_of(text.begin() + i + 2, text.begin() + i + 6, isHex);
                    if (unicode ||
                        (next != 'u' && next != '\0' &&
                         std::string_view("\"\\/bfnrt").find(next) != std::string_view::npos)) {
                        out += '\\';
                        out += next;
                        ++i;
                    } else {
                        out += "\\\\";
                    }
                } else if (value < 0x20) {
                    appendEscaped(out, value);
                } else {
                    out += text[i];
                }
            }
            out += '"';
            ++i;
        } else if (isBlank(c)) {
            ++i;
        } else if (isStructural(c)) {
            // A trailing comma before the end of an object or array is dropped.
            if ((c == '}' || c == ']') && !out.empty() && out.back() == ',') out.pop_back();
            out += c;
            ++i;
            if (c == ':') {
                while (i < text.size() && isBlank(text[i])) ++i;
                if (i < text.size() && (text[i] == ',' || text[i] == '}')) out += "null";
            }
        } else {
            const std::size_t start = i;
            while (i < text.size() && !isStructural(text[i]) && !isBlank(text[i])) ++i;
            const std::string_view word = text.substr(start, i - start);
            if (word == "true" || word == "false" || word == "null") {
                out += word;
                continue;
            }
            out += '"';
            for (const char w : word) {
                const auto value = static_cast<unsigned char>(w);
                if (w == '\\') {
                    out += "\\\\";
                } else if (value < 0x20) {
                    appendEscaped(out, value);
                } else {
                    out += w;
                }
            }
            out += '"';
        }
    }
    return out;
}

std::string utf8(const QString& text) { return text.toUtf8().toStdString(); }

// Text of a string, number or bare word; empty for anything else.
QString textOf(const QJsonValue& value) {
    if (value.isString()) return value.toString();
    if (value.isDouble()) return QString::number(value.toDouble(), 'g', 17);
    return {};
}

int countOf(const QJsonValue& value) {
    bool ok = false;
    const double count = textOf(value).trimmed().toDouble(&ok);
    if (!ok || !(count > 0)) return 0;
    return count >= double(INT_MAX) ? INT_MAX : int(count);
}

// "/live" of "http://host:8000/live"; the text itself when it is already a path.
std::string mountOfListenUrl(const QString& url) {
    const int scheme = url.indexOf(QLatin1String("://"));
    const int slash = url.indexOf(QLatin1Char('/'), scheme < 0 ? 0 : scheme + 3);
    return slash < 0 ? std::string() : utf8(url.mid(slash));
}

StatusMount mountOf(const QJsonObject& source) {
    StatusMount mount;
    mount.mount = mountOfListenUrl(textOf(source.value(QLatin1String("listenurl"))));
    mount.listeners = countOf(source.value(QLatin1String("listeners")));
    const QString title = textOf(source.value(QLatin1String("title")));
    const QString artist = textOf(source.value(QLatin1String("artist")));
    mount.title = utf8(artist.isEmpty() || title.isEmpty() ? artist + title
                                                           : artist + QLatin1String(" - ") + title);
    mount.contentType = utf8(textOf(source.value(QLatin1String("server_type"))));
    return mount;
}

}  // namespace

const StatusMount* ServerStatus::find(std::string_view mount) const {
    const std::string path = icecast::normalizedMount(mount);
    for (const StatusMount& entry : mounts) {
        if (entry.mount == path) return &entry;
    }
    return nullptr;
}

bool decodeServerStatus(std::string_view body, ServerStatus& status) {
    status = ServerStatus();
    // Invalid UTF-8 would fail the whole document; it becomes replacement characters instead.
    const QByteArray valid =
        QString::fromUtf8(body.data(), qsizetype(std::min(body.size(), kMaxAnswerBytes))).toUtf8();
    const std::string json = strictJson(std::string_view(valid.constData(), valid.size()));
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(json.data(), qsizetype(json.size())));
    const QJsonValue icestats = document.object().value(QLatin1String("icestats"));
    if (!icestats.isObject()) return false;
    const QJsonObject stats = icestats.toObject();
    status.serverId = utf8(textOf(stats.value(QLatin1String("server_id"))));
    const QJsonValue sources = stats.value(QLatin1String("source"));
    const QJsonArray list = sources.isArray() ? sources.toArray() : QJsonArray{sources};
    for (const QJsonValue& source : list) {
        if (!source.isObject()) continue;
        StatusMount mount = mountOf(source.toObject());
        if (!mount.mount.empty()) status.mounts.push_back(std::move(mount));
    }
    return true;
}

StatusFetch fetchServerStatus(const icecast::SourceRequest& request, const std::string& address,
                              int connectTimeoutMs, int answerTimeoutMs,
                              platform::AbortableSocket* holder) {
    StatusFetch fetch;
    const int socket =
        platform::tcpConnect(address.c_str(), request.port, false, connectTimeoutMs, holder);
    fetch.connectResult = socket;
    if (socket < 0) return fetch;
    const auto finish = [&] {
        if (holder) {
            holder->close();
        } else {
            platform::closeSocket(socket);
        }
    };
    const std::string get = icecast::buildGetRequest(request, kStatusPath);
    if (platform::tcpSendAll(socket, get.data(), get.size(), answerTimeoutMs) !=
        static_cast<std::int64_t>(get.size())) {
        finish();
        return fetch;
    }
    // Icecast answers HTTP/1.0 and closes when done; the size cap and the deadline bound the rest.
    const QDeadlineTimer deadline(answerTimeoutMs);
    char buffer[16384];
    while (fetch.answer.size() < kMaxAnswerBytes && !deadline.hasExpired()) {
        const int received =
            platform::tcpReceive(socket, buffer, sizeof(buffer),
                                 std::max(1, static_cast<int>(deadline.remainingTime())));
        if (received <= 0) break;
        fetch.answer.append(buffer, static_cast<std::size_t>(received));
    }
    finish();
    fetch.head = icecast::readAnswerHead(fetch.answer);
    if (fetch.head.isHttp && fetch.head.status == 200 && fetch.head.complete) {
        fetch.decoded = decodeServerStatus(
            std::string_view(fetch.answer).substr(fetch.head.bodyOffset), fetch.status);
    }
    return fetch;
}
