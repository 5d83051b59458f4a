#include "cloud/secret_redaction.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrlQuery>

namespace {

const QString kRedacted = QStringLiteral("<redacted>");

bool isSecretName(const QString& name) {
    return name.contains(QLatin1String("password"), Qt::CaseInsensitive) ||
           name.contains(QLatin1String("token"), Qt::CaseInsensitive);
}

QJsonValue redacted(const QJsonValue& value) {
    if (value.isObject()) {
        QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            it.value() = isSecretName(it.key()) ? QJsonValue(kRedacted) : redacted(it.value());
        }
        return object;
    }
    if (value.isArray()) {
        QJsonArray array = value.toArray();
        for (auto it = array.begin(); it != array.end(); ++it) *it = redacted(*it);
        return array;
    }
    return value;
}

}  // namespace

namespace secrets {

QString redactedBody(const QByteArray& body) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError) {
        return QStringLiteral("(%1 bytes, not JSON)").arg(body.size());
    }
    const QJsonValue root =
        document.isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
    const QJsonValue clean = redacted(root);
    const QJsonDocument out =
        clean.isArray() ? QJsonDocument(clean.toArray()) : QJsonDocument(clean.toObject());
    return QString::fromUtf8(out.toJson(QJsonDocument::Compact));
}

QString withoutQuery(const QUrl& url) {
    return url.toString(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo);
}

QString scrubbed(const QString& text, const QUrl& url) {
    QString result = text;
    const QList<QPair<QString, QString>> items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    for (const auto& item : items) {
        if (item.second.isEmpty()) continue;
        const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(item.second));
        result.replace(encoded, kRedacted);
        result.replace(item.second, kRedacted);
    }
    return result;
}

}  // namespace secrets
