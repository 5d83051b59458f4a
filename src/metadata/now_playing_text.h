// The pure "now playing" text rules: splitting, player window titles, lines from file bytes.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// A title with its artist; the artist is empty when the text names none.
struct NowPlaying {
    QString title;
    QString artist;
};

// Every function here is pure and may be called from any thread.
namespace nowplaying {

// Captured diagnostics, players' debug output and our own log lines are not song titles.
bool isLogLike(const QString& text);

// "Artist - Title" into its trimmed halves; false when the text has no separating hyphen.
bool splitArtistTitle(const QString& text, QString* artist, QString* title);

// The one line a pair is shown and published as: "Artist - Title", or the title alone.
QString songText(const QString& title, const QString& artist);

// The pair a file line or URL body line stands for; nothing for log-like text.
std::optional<NowPlaying> fromText(const QString& text);

// The pair another program's window title stands for, without the player's name; nothing for
// log-like text.
std::optional<NowPlaying> fromWindowTitle(const QString& windowTitle);

// Bytes as UTF-8 without a leading byte-order mark; invalid sequences become U+FFFD.
QString decodeUtf8(QByteArray bytes);

// First (or last) line that is not empty once trimmed, trimmed; empty when there is none.
QString extractLine(const QString& text, bool last);

}  // namespace nowplaying
