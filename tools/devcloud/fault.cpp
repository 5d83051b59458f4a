#include "fault.h"

#include <QTimer>

std::optional<Fault> Fault::fromJson(const QJsonObject& json, QString* error) {
    Fault fault;
    fault.delayMs = json.value(QLatin1String("delay_ms")).toInt();
    fault.stall = json.value(QLatin1String("stall")).toBool();
    fault.status = json.value(QLatin1String("status")).toInt();
    fault.message = json.value(QLatin1String("message")).toString();
    if (json.contains(QLatin1String("body"))) {
        fault.body = json.value(QLatin1String("body")).toString().toUtf8();
    }
    fault.contentType = json.value(QLatin1String("content_type")).toString().toUtf8();
    fault.remaining = json.value(QLatin1String("times")).toInt(-1);
    fault.refuse = json.value(QLatin1String("refuse")).toBool();
    fault.anotherStream = json.value(QLatin1String("another_stream")).toString();
    if (!fault.anotherStream.isEmpty() && !fault.anotherStream.startsWith(QLatin1Char('/'))) {
        fault.anotherStream.prepend(QLatin1Char('/'));
    }
    if (fault.delayMs < 0 || (fault.status != 0 && (fault.status < 100 || fault.status > 599))) {
        *error = QStringLiteral("a fault needs delay_ms >= 0 and a status from 100 to 599");
        return std::nullopt;
    }
    if (fault.remaining == 0) {
        *error = QStringLiteral("a fault with \"times\": 0 would never apply");
        return std::nullopt;
    }
    return fault;
}

bool Fault::replacesAnswer() const {
    return body.has_value() || (status != 0 && status / 100 != 2);
}

HttpResponse Fault::response() const {
    if (!body) return HttpResponse::error(status, message);
    HttpResponse response;
    response.status = status != 0 ? status : 200;
    response.body = *body;
    response.contentType = !contentType.isEmpty() ? contentType
                           : response.body.trimmed().startsWith('<')
                               ? QByteArray("text/html")
                               : QByteArray("application/json");
    return response;
}

void answerWithFault(const QPointer<HttpConnection>& connection, const std::optional<Fault>& fault,
                     const AnswerProducer& produce) {
    if (fault && fault->stall) return;
    auto act = [connection, fault, produce] {
        if (!connection) return;
        if (fault && fault->replacesAnswer()) {
            connection->respond(fault->response());
            return;
        }
        const int status = fault ? fault->status : 0;
        produce([connection, status](HttpResponse response) {
            if (!connection) return;
            if (status != 0) response.status = status;
            connection->respond(response);
        });
    };
    if (fault && fault->delayMs > 0) {
        QTimer::singleShot(fault->delayMs, connection.data(), act);
    } else {
        act();
    }
}
