#pragma once

#include <QByteArray>
#include <QFileSystemWatcher>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QNetworkReply;

// Where the "now playing" text comes from. The numbers are stored under "metadata/source".
enum class MetadataSource : int { Manual = 0, TextFile = 1, URL = 2, WindowTitle = 3 };

// Supplies the stream's "now playing" pair (title, artist) from one source at a time: typed text,
// a watched text file, a polled URL or another program's window title. Every source goes through
// the same parsing rules and ends in metadataChanged. When a file or URL source fails, or the
// watched window closes, the owner is told and decides what to do (the main window falls back to
// manual entry).
//
// Main thread only: file notifications, timers and network replies arrive through the event
// loop. Nothing blocks except reading at most kMaxFileBytes of the metadata file and a few local
// round trips to the window system per window poll.
class MetadataManager : public QObject {
    Q_OBJECT

public:
    // A file is read up to this much (the tail of it when the last line is wanted), a URL reply
    // up to kMaxUrlBytes; a bigger reply is a failed fetch.
    static constexpr qint64 kMaxFileBytes = 1024 * 1024;
    static constexpr qint64 kMaxUrlBytes = 64 * 1024;
    // A URL request gets at most the poll interval, and never more than this, to finish.
    static constexpr int kMaxUrlTimeoutSeconds = 30;
    static constexpr int kMaxUrlPollIntervalSeconds = 24 * 60 * 60;
    static constexpr int kDefaultUrlPollIntervalSeconds = 30;
    static constexpr int kDefaultWindowPollIntervalSeconds = 2;

    explicit MetadataManager(QObject* parent = nullptr);
    ~MetadataManager() override;

    void setSource(MetadataSource source);
    void setFilePath(const QString& path);
    void setReadLastLine(bool readLastLine);
    void setUrl(const QString& url);
    // Seconds, at least 1; a running URL poll takes the new interval at once.
    void setUrlPollInterval(int seconds);
    void setWindowTitle(const QString& title);
    // The window picker's choice: the title it showed and the native handle.
    void setWindow(const QString& title, quintptr handle);
    // Starts the selected file or URL source (reads or fetches at once, then watches or polls).
    void refresh();
    // Only while the source is Manual.
    void setManualMetadata(const QString& title, const QString& artist);

    // The parsing rules, applied to an extracted line of a file or URL and to a raw window
    // title. Each stores the pair and emits metadataChanged, or drops log-like text.
    void parseMetadata(const QString& text);
    void parseWindowTitle(const QString& windowTitleText);

    QString title() const { return m_title; }
    QString artist() const { return m_artist; }
    quintptr windowHandle() const { return m_windowHandle; }
    MetadataSource source() const { return m_source; }
    QString filePath() const { return m_filePath; }
    bool readLastLine() const { return m_readLastLine; }
    QString url() const { return m_url; }
    int urlPollIntervalSeconds() const { return m_urlPollIntervalSeconds; }
    QString windowTitle() const { return m_windowTitle; }

    // What the saved settings may start with: a window handle does not survive a restart, and a
    // file or URL source needs its path or URL (and the file must exist). Logs each reset.
    struct StartupSource {
        MetadataSource source = MetadataSource::Manual;
        // The saved file is missing: the owner tells the user shortly after start.
        bool fileNotFound = false;
    };
    static StartupSource validateStartupSource(int savedSource, const QString& filePath,
                                               const QString& url);

Q_SIGNALS:
    void metadataChanged(const QString& title, const QString& artist);
    void errorOccurred(const QString& error);
    void sourceInvalidated(const QString& reason);
    void windowClosed(const QString& windowTitle);

public Q_SLOTS:
    void onFileChanged(const QString& path);
    void onUrlPollTimer();
    void onUrlReplyFinished(QNetworkReply* reply);
    void onWindowPollTimer();

private:
    void readFile();
    void watchFile();
    void onFileSettled();
    void fetchUrl();
    void abortUrlRequest();
    void onUrlReplyReadyRead();
    void pollWindow();
    void startWindowPolling();

    MetadataSource m_source = MetadataSource::Manual;
    bool m_readLastLine = false;
    QString m_title;
    QString m_artist;
    QString m_filePath;
    QFileSystemWatcher m_fileWatcher;
    QString m_url;
    QTimer m_urlPollTimer;
    QNetworkAccessManager m_network;
    int m_urlPollIntervalSeconds = kDefaultUrlPollIntervalSeconds;
    QString m_windowTitle;
    quintptr m_windowHandle = 0;
    QTimer m_windowPollTimer;
    int m_windowPollIntervalSeconds = kDefaultWindowPollIntervalSeconds;
    QString m_lastWindowTitle;

    // Change notifications come in bursts while a writer is still busy; the file is read once
    // it has been quiet briefly, and a file that vanished gets a moment to reappear (editors
    // that delete and rewrite) before it counts as removed.
    QTimer m_fileSettleTimer;
    int m_fileMissingChecks = 0;

    // At most one request is in flight; it is abandoned when the source or URL changes.
    QPointer<QNetworkReply> m_urlReply;
    QByteArray m_urlBody;
    QString m_urlFailure;  // set when we end the request ourselves (too large, timed out)
    QTimer m_urlTimeoutTimer;

    bool m_windowSystemMissingLogged = false;
};
