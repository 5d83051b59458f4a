// What the main window reads from its own fields before it goes live or sends a title.
#include "ui/go_live_input.h"

#include <QStringList>
#include <QUrl>

ServerHostInput parseServerHostInput(const QString& text) {
    ServerHostInput input;
    const QString trimmed = text.trimmed();
    const QUrl url(trimmed, QUrl::StrictMode);
    if (url.isValid() && !url.host().isEmpty()) {
        input.host = url.host();
        const int port = url.port();
        if (port >= 1 && port <= 65535) input.port = port;
        return input;
    }
    const QStringList parts = trimmed.split(QLatin1Char(':'));
    input.host = parts.value(0).trimmed();
    if (parts.size() > 1) {
        bool ok = false;
        const int port = parts.at(1).trimmed().toInt(&ok);
        if (ok && port >= 1 && port <= 65535) input.port = port;
    }
    return input;
}

ManualTitle splitManualTitle(const QString& text) {
    static const QString kSeparator = QStringLiteral(" - ");
    const int at = text.indexOf(kSeparator);
    if (at < 0) return {QString(), text.trimmed()};
    return {text.left(at).trimmed(), text.mid(at + kSeparator.size()).trimmed()};
}

TitleRowState titleRowState(bool oggStream, TitleSourceKind source, bool sourceConfigured,
                            bool serverOnline, bool broadcasting) {
    TitleRowState state;
    const bool automatic = source != TitleSourceKind::Manual && sourceConfigured;
    state.noteVisible = automatic && !oggStream;
    if (oggStream) {
        state.updateToolTip = QStringLiteral(
            "Opus/Vorbis streams embed metadata in headers.\n"
            "Metadata can only be set before the stream starts.");
        return state;
    }
    if (automatic) {
        const char* from = source == TitleSourceKind::File  ? "file"
                           : source == TitleSourceKind::Url ? "URL"
                                                            : "window title";
        state.updateToolTip = QStringLiteral(
                                  "Metadata is being updated automatically from %1.\n"
                                  "Change the source in Settings > Metadata.")
                                  .arg(QLatin1String(from));
        return state;
    }
    state.updateEnabled = serverOnline && broadcasting;
    if (!state.updateEnabled)
        state.updateToolTip = QStringLiteral("Start broadcasting to update metadata");
    return state;
}
