// The private token's accepted form, shared by both login variants.
#pragma once

#include <QRegularExpression>
#include <QString>

namespace logintoken {

// Shown in the help texts and the format alert.
inline constexpr char kExampleToken[] = "5b2e9c41-0d7a-4f36-b8e1-3a9c6d20f4e7";

// 8-4-4-4-12 hexadecimal digits in either case, anchored.
const QRegularExpression& formatPattern();
// The same with surrounding white space allowed, for an input validator.
const QRegularExpression& typingPattern();
// Trims first, as every use of the token does.
bool hasTokenFormat(const QString& text);
QString invalidFormatMessage();
QString emptyTokenMessage();

}  // namespace logintoken
