// What the main window reads from its own fields before it goes live or sends a title.
#pragma once

#include <QString>

// The host field as typed: a URL ("http://radio.example:8000/"), "name:port" or a bare name.
struct ServerHostInput {
    QString host;  // empty when nothing usable was typed
    int port = 0;  // 1..65535 when the text named one, else 0 (keep the port box's value)
};
ServerHostInput parseServerHostInput(const QString& text);

// A manual "now playing" line split at its first " - ": "A - B - C" is artist "A" and title
// "B - C", so nothing typed is lost. Without the separator the whole text is the title.
struct ManualTitle {
    QString artist;
    QString title;
};
ManualTitle splitManualTitle(const QString& text);

// What the Update button of the title row offers, from the source actually selected.
struct TitleRowState {
    bool updateEnabled = false;
    QString updateToolTip;
    bool noteVisible = false;  // "titles come from …" note under the row
};
enum class TitleSourceKind { Manual, File, Url, WindowTitle };
// `oggStream`: Ogg Opus or Vorbis, whose titles travel in the stream headers. `sourceConfigured`:
// the selected automatic source has what it needs (a path, a URL with a host, a window).
TitleRowState titleRowState(bool oggStream, TitleSourceKind source, bool sourceConfigured,
                            bool serverOnline, bool broadcasting);
