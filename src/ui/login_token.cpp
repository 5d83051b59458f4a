// The private token's accepted form, shared by both login variants.
#include "ui/login_token.h"

namespace logintoken {

namespace {
constexpr char kUuid[] =
    "[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}";
}

const QRegularExpression& formatPattern() {
    static const QRegularExpression pattern(QLatin1Char('^') + QLatin1String(kUuid) +
                                            QLatin1Char('$'));
    return pattern;
}

const QRegularExpression& typingPattern() {
    static const QRegularExpression pattern(QStringLiteral("^\\s*") + QLatin1String(kUuid) +
                                            QStringLiteral("\\s*$"));
    return pattern;
}

bool hasTokenFormat(const QString& text) {
    return formatPattern().match(text.trimmed()).hasMatch();
}

QString invalidFormatMessage() {
    return QStringLiteral("Invalid token format. Token must be in UUID format (e.g., ") +
           QLatin1String(kExampleToken) + QLatin1Char(')');
}

QString emptyTokenMessage() { return QStringLiteral("Please enter your Private Token"); }

}  // namespace logintoken
