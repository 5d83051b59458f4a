// The pure "now playing" text rules: splitting, player window titles, lines from file bytes.
#include "metadata/now_playing_text.h"

#include <QRegularExpression>
#include <QStringList>

namespace nowplaying {

bool isLogLike(const QString& text) {
    static const QRegularExpression pattern(
        QStringLiteral("^\\d{2}:\\d{2}:\\d{2}|audiomixer|gstreamer|pipeline|buffer-duration|"
                       "latency=|time-selection|\\[DEBUG\\]|\\[INFO\\]|\\[WARNING\\]|"
                       "\\[ERROR\\]|qDebug|qWarning|qCritical"),
        QRegularExpression::CaseInsensitiveOption);
    return pattern.match(text).hasMatch();
}

// A hyphen with spaces around it is the separator when there is one, so hyphenated names
// ("AC-DC - Thunder", "Blink-182 - Adam's Song") stay whole; otherwise the first hyphen with
// something before it splits ("Artist-Title").
bool splitArtistTitle(const QString& text, QString* artist, QString* title) {
    const int spaced = text.indexOf(QStringLiteral(" - "));
    if (spaced >= 0) {
        *artist = text.left(spaced).trimmed();
        *title = text.mid(spaced + 3).trimmed();
        return true;
    }
    // A line break inside the text belongs to the artist or title, not in front of them.
    static const QRegularExpression pattern(QStringLiteral("(.+?)\\s*-\\s*(.+)"),
                                            QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch()) return false;
    *artist = match.captured(1).trimmed();
    *title = match.captured(2).trimmed();
    return true;
}

QString songText(const QString& title, const QString& artist) {
    return artist.isEmpty() ? title : QStringLiteral("%1 - %2").arg(artist, title);
}

std::optional<NowPlaying> fromText(const QString& text) {
    const QString trimmed = text.trimmed();
    if (isLogLike(trimmed)) return std::nullopt;
    NowPlaying result;
    if (!splitArtistTitle(trimmed, &result.artist, &result.title)) result.title = trimmed;
    return result;
}

std::optional<NowPlaying> fromWindowTitle(const QString& windowTitle) {
    QString text = windowTitle;
    if (isLogLike(text)) return std::nullopt;

    // Order matters only in that the first hit wins; at most one suffix goes.
    static const QStringList kPlayerSuffixes = {QStringLiteral(" - Spotify"),
                                                QStringLiteral(" - Spotify Premium"),
                                                QStringLiteral(" - Apple Music"),
                                                QStringLiteral(" - iTunes"),
                                                QStringLiteral(" - VLC media player"),
                                                QStringLiteral(" - VLC"),
                                                QStringLiteral(" - foobar2000"),
                                                QStringLiteral(" - Winamp"),
                                                QStringLiteral(" - YouTube Music"),
                                                QStringLiteral(" - YouTube"),
                                                QStringLiteral(" - Music")};
    for (const QString& suffix : kPlayerSuffixes) {
        if (text.endsWith(suffix, Qt::CaseInsensitive)) {
            text.chop(suffix.size());
            break;
        }
    }

    // "[Artist - Song] - Player": the bracketed part is the whole story.
    static const QRegularExpression bracketPrefix(QStringLiteral("^\\[(.+?)\\]\\s*-?\\s*"));
    const QRegularExpressionMatch bracket = bracketPrefix.match(text);
    if (bracket.hasMatch()) text = bracket.captured(1);

    // "Song • Artist", as web players write it.
    static const QString kBullet = QStringLiteral(" \u2022 ");
    NowPlaying result;
    if (text.contains(kBullet)) {
        const QStringList parts = text.split(kBullet);
        if (parts.size() >= 2) {
            result.title = parts.at(0).trimmed();
            result.artist = parts.at(1).trimmed();
            return result;
        }
    }
    if (!splitArtistTitle(text, &result.artist, &result.title)) result.title = text.trimmed();
    return result;
}

// Editors on Windows like to start files with a BOM.
QString decodeUtf8(QByteArray bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) bytes.remove(0, 3);
    return QString::fromUtf8(bytes);
}

QString extractLine(const QString& text, bool last) {
    const QStringList lines = text.split(QLatin1Char('\n'));
    if (last) {
        for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
            const QString line = it->trimmed();
            if (!line.isEmpty()) return line;
        }
        return {};
    }
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (!line.isEmpty()) return line;
    }
    return {};
}

}  // namespace nowplaying
