// Serialized variants taken out of the settings file before Qt decodes them.
#include "core/settings_file_guard.h"

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QSaveFile>

#include "core/log_categories.h"

namespace settingsfile {
namespace {

constexpr char kVariantPrefix[] = "@Variant(";

// A line ending in an odd number of backslashes goes on in the next one.
bool continues(const QByteArray& line) {
    qsizetype backslashes = 0;
    for (qsizetype i = line.size() - 1; i >= 0 && line[i] == '\\'; --i) ++backslashes;
    return backslashes % 2 == 1;
}

// The key of a "key=value" line holding a serialized variant, alone or as an item of a list,
// or an empty array. (A text that starts with "@" is stored as "@@", so it never matches.)
QByteArray variantKey(const QByteArray& line) {
    const qsizetype equals = line.indexOf('=');
    if (equals <= 0 || !line.contains(kVariantPrefix)) return {};
    for (QByteArray item : line.mid(equals + 1).split(',')) {
        item = item.trimmed();
        if (item.startsWith('"')) item.remove(0, 1);
        if (item.startsWith(kVariantPrefix)) return line.left(equals).trimmed();
    }
    return {};
}

}  // namespace

QStringList removeSerializedVariants(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray content = file.readAll();
    file.close();
    if (!content.contains(kVariantPrefix)) return {};

    QStringList removed;
    QByteArray kept;
    kept.reserve(content.size());
    bool dropping = false;
    for (const QByteArray& rawLine : content.split('\n')) {
        const QByteArray line = rawLine.endsWith('\r') ? rawLine.chopped(1) : rawLine;
        if (!dropping) {
            const QByteArray key = variantKey(line);
            if (!key.isEmpty()) {
                removed << QString::fromUtf8(key);
                dropping = true;
            }
        }
        if (dropping) {
            dropping = continues(line);
            continue;
        }
        kept += rawLine;
        kept += '\n';
    }
    if (!content.endsWith('\n')) kept.chop(1);
    if (removed.isEmpty()) return removed;

    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(kept) != kept.size() || !out.commit()) {
        qCWarning(lcSettings).noquote() << "Could not rewrite the settings file" << path << "-"
                                        << out.errorString();
        return {};
    }
    for (const QString& key : removed) {
        qCWarning(lcSettings).noquote()
            << "Removed a settings value of a type this application never stores:" << key;
    }
    return removed;
}

}  // namespace settingsfile
