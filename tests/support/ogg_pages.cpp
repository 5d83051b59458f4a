#include "ogg_pages.h"

#include <QString>
#include <QtEndian>

namespace ogg {

QList<OggPage> parsePages(const QByteArray& data, qsizetype* consumed) {
    QList<OggPage> pages;
    qsizetype at = 0;
    constexpr qsizetype kHeaderBytes = 27;
    while (at + kHeaderBytes <= data.size() && data.mid(at, 4) == "OggS") {
        const auto* header = reinterpret_cast<const uchar*>(data.constData() + at);
        const int segments = header[26];
        if (at + kHeaderBytes + segments > data.size()) break;
        qsizetype bodyBytes = 0;
        for (int i = 0; i < segments; ++i) bodyBytes += header[kHeaderBytes + i];
        const qsizetype size = kHeaderBytes + segments + bodyBytes;
        if (at + size > data.size()) break;
        pages.append({header[5], qFromLittleEndian<quint32>(header + 14),
                      qFromLittleEndian<quint32>(header + 18)});
        at += size;
    }
    if (consumed) *consumed = at;
    return pages;
}

QString contiguityProblem(const QList<OggPage>& pages) {
    if (pages.isEmpty()) return QStringLiteral("no Ogg page");
    if (!(pages.first().headerType & 0x02)) return QStringLiteral("the first page opens no stream");
    const quint32 serial = pages.first().serial;
    for (qsizetype i = 0; i < pages.size(); ++i) {
        if (pages.at(i).serial != serial) {
            return QStringLiteral("page %1 belongs to another stream (serial %2, not %3)")
                .arg(i)
                .arg(pages.at(i).serial)
                .arg(serial);
        }
        if (pages.at(i).sequence != quint32(i)) {
            return QStringLiteral("page %1 has sequence number %2")
                .arg(i)
                .arg(pages.at(i).sequence);
        }
    }
    return {};
}

quint32 firstSerial(const QByteArray& data) {
    const QList<OggPage> pages = parsePages(data);
    return pages.isEmpty() ? 0 : pages.first().serial;
}

}  // namespace ogg
