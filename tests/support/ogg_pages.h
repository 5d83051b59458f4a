#pragma once

#include <QByteArray>
#include <QList>

// The pages of an Ogg stream as a server or listener received them, for checks on where a
// stream starts and whether pages are missing.
struct OggPage {
    quint8 headerType = 0;  // 0x01 continued, 0x02 first page of a stream, 0x04 last
    quint32 serial = 0;
    quint32 sequence = 0;
};

namespace ogg {

// Pages from the start of `data`, which must begin with one ("OggS"); stops at the first thing
// that is not a whole page (a page cut off at the end is left out). `consumed` tells how far it
// got.
QList<OggPage> parsePages(const QByteArray& data, qsizetype* consumed = nullptr);

// "" when the pages are one stream whose sequence numbers run 0, 1, 2 ... without a gap and whose
// first page opens the stream; otherwise what is wrong.
QString contiguityProblem(const QList<OggPage>& pages);

// The serial of the first Ogg stream in `data`, 0 when there is no whole page.
quint32 firstSerial(const QByteArray& data);

}  // namespace ogg
