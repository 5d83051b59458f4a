#include "core/settings_keys.h"

#include <cmath>
#include <limits>

#include <QSettings>
#include <QStringList>
#include <QVariant>

namespace settingskeys {
namespace {

QString nameOf(const char* name) { return QString::fromLatin1(name); }

// An INI file hands every plain value back as text; the registry and values written in this
// run come back typed. Both must give the same answer.
bool isIntegerType(int typeId) {
    return typeId == QMetaType::Int || typeId == QMetaType::UInt || typeId == QMetaType::LongLong ||
           typeId == QMetaType::ULongLong || typeId == QMetaType::Long ||
           typeId == QMetaType::ULong || typeId == QMetaType::Short || typeId == QMetaType::UShort;
}

bool isFloatType(int typeId) { return typeId == QMetaType::Double || typeId == QMetaType::Float; }

bool toBool(const QVariant& value) {
    const int type = value.userType();
    if (type == QMetaType::Bool) return value.toBool();
    if (isIntegerType(type)) return value.toLongLong() != 0;
    if (type == QMetaType::QString) {
        const QString text = value.toString().trimmed();
        if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) return true;
        if (text == QLatin1String("1")) return true;
    }
    return false;
}

int toInt(const QVariant& value) {
    const int type = value.userType();
    if (isIntegerType(type)) {
        bool ok = false;
        const qlonglong number = value.toLongLong(&ok);
        const bool fits = ok && number >= std::numeric_limits<int>::min() &&
                          number <= std::numeric_limits<int>::max();
        return fits ? static_cast<int>(number) : 0;
    }
    if (isFloatType(type)) {
        const double number = value.toDouble();
        const bool integral = std::isfinite(number) && std::trunc(number) == number &&
                              number >= std::numeric_limits<int>::min() &&
                              number <= std::numeric_limits<int>::max();
        return integral ? static_cast<int>(number) : 0;
    }
    if (type == QMetaType::QString) {
        bool ok = false;
        const int number = value.toString().trimmed().toInt(&ok);
        return ok ? number : 0;
    }
    return 0;
}

double toFloat(const QVariant& value) {
    const int type = value.userType();
    double number = 0.0;
    bool ok = false;
    if (isFloatType(type) || isIntegerType(type)) {
        number = value.toDouble(&ok);
    } else if (type == QMetaType::QString) {
        number = value.toString().trimmed().toDouble(&ok);
    }
    // "nan" and "inf" parse as numbers, but no setting can use them.
    return ok && std::isfinite(number) ? number : 0.0;
}

QString toText(const QVariant& value) {
    const int type = value.userType();
    if (type == QMetaType::QString) return value.toString();
    // An unquoted comma in a hand-edited INI file turns a text into a list.
    if (type == QMetaType::QStringList) return value.toStringList().join(QLatin1String(", "));
    if (isIntegerType(type) || isFloatType(type)) return value.toString();
    return QString();
}

}  // namespace

QString secretKey(const QString& secretName) {
    return QLatin1String(kEncryptedGroup) + QLatin1Char('/') + secretName;
}

bool read(const QSettings& settings, BoolKey key) {
    const QVariant value = settings.value(nameOf(key.name));
    return value.isValid() ? toBool(value) : key.defaultValue;
}

int read(const QSettings& settings, IntKey key) {
    const QVariant value = settings.value(nameOf(key.name));
    return value.isValid() ? toInt(value) : key.defaultValue;
}

double read(const QSettings& settings, FloatKey key) {
    const QVariant value = settings.value(nameOf(key.name));
    return value.isValid() ? toFloat(value) : key.defaultValue;
}

QString read(const QSettings& settings, StringKey key) {
    const QVariant value = settings.value(nameOf(key.name));
    return value.isValid() ? toText(value) : QString::fromUtf8(key.defaultValue);
}

QByteArray read(const QSettings& settings, BytesKey key) {
    const QVariant value = settings.value(nameOf(key.name));
    return value.userType() == QMetaType::QByteArray ? value.toByteArray() : QByteArray();
}

bool contains(const QSettings& settings, const char* name) {
    return settings.contains(nameOf(name));
}

void write(QSettings& settings, BoolKey key, bool value) {
    settings.setValue(nameOf(key.name), value);
}

void write(QSettings& settings, IntKey key, int value) {
    settings.setValue(nameOf(key.name), value);
}

void write(QSettings& settings, FloatKey key, double value) {
    settings.setValue(nameOf(key.name), value);
}

void write(QSettings& settings, StringKey key, const QString& value) {
    settings.setValue(nameOf(key.name), value);
}

void write(QSettings& settings, BytesKey key, const QByteArray& value) {
    settings.setValue(nameOf(key.name), value);
}

void remove(QSettings& settings, const char* name) { settings.remove(nameOf(name)); }

}  // namespace settingskeys
