// Fuzz target: "now playing" text from file bytes, URL bodies and other programs' window titles.
#include <cstdint>

#include <QByteArray>
#include <QString>

#include "fuzz_check.h"
#include "metadata/now_playing_text.h"

namespace {

QString withoutSpaces(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (!c.isSpace()) out += c;
    }
    return out;
}

// Splitting and joining back loses no text: only blanks around the separator go.
void checkSplit(const QString& text) {
    QString artist;
    QString title;
    if (!nowplaying::splitArtistTitle(text, &artist, &title)) return;
    FUZZ_CHECK(withoutSpaces(artist) + QLatin1Char('-') + withoutSpaces(title) ==
               withoutSpaces(text));
}

void checkLine(const QString& text, bool last) {
    const QString line = nowplaying::extractLine(text, last);
    FUZZ_CHECK(!line.contains(QLatin1Char('\n')) && line == line.trimmed());
    FUZZ_CHECK(text.contains(line));
    FUZZ_CHECK(line.isEmpty() == text.trimmed().isEmpty());
}

}  // namespace

// The first byte: bit 0 asks for the last line instead of the first; 0xFF repeats the rest into
// a text far longer than any title.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool last = data[0] & 1;
    QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    if (data[0] == 0xFF && !bytes.isEmpty()) bytes = bytes.repeated(16 * 1024 / bytes.size());

    const QString text = nowplaying::decodeUtf8(bytes);
    // One leading byte-order mark goes; a second one would be text.
    if (!bytes.startsWith("\xEF\xBB\xBF")) {
        FUZZ_CHECK(nowplaying::decodeUtf8("\xEF\xBB\xBF" + bytes) == text);
    }
    checkLine(text, last);
    const QString line = nowplaying::extractLine(text, last);
    checkSplit(line);
    checkSplit(text);

    if (const auto parsed = nowplaying::fromText(line)) {
        FUZZ_CHECK(line.contains(parsed->title) && line.contains(parsed->artist));
    }
    if (const auto parsed = nowplaying::fromWindowTitle(text)) {
        FUZZ_CHECK(text.contains(parsed->title) && text.contains(parsed->artist));
    }
    return 0;
}
