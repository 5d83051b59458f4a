#include "metadata/metadata_manager.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include "core/app_identity.h"
#include "core/log_categories.h"
#include "metadata/now_playing_text.h"
#include "platform/window_titles.h"

namespace {

constexpr int kFileSettleMs = 100;
// Quiet periods to wait for a vanished file to come back before it counts as removed.
constexpr int kFileMissingChecks = 5;
constexpr int kLogExcerptChars = 50;
const char* const kRequestedUrlProperty = "metadataRequestedUrl";

bool isFetchable(const QUrl& url) {
    return url.isValid() && !url.scheme().isEmpty() && !url.host().isEmpty();
}

// Passwords and query strings (API keys of now-playing services) stay out of the log.
QString loggableUrl(const QString& url) {
    return QUrl(url).toDisplayString(QUrl::RemoveUserInfo | QUrl::RemoveQuery |
                                     QUrl::RemoveFragment);
}

const char* sourceName(MetadataSource source) {
    switch (source) {
        case MetadataSource::Manual:
            return "Manual";
        case MetadataSource::TextFile:
            return "TextFile";
        case MetadataSource::URL:
            return "URL";
        case MetadataSource::WindowTitle:
            return "WindowTitle";
    }
    return "?";
}

}  // namespace

MetadataManager::MetadataManager(QObject* parent)
    : QObject(parent), m_urlPollTimer(this), m_windowPollTimer(this) {
    // Named so that diagnostics (and tests) can tell which machinery is running.
    m_urlPollTimer.setObjectName(QStringLiteral("urlPollTimer"));
    m_windowPollTimer.setObjectName(QStringLiteral("windowPollTimer"));
    connect(&m_fileWatcher, &QFileSystemWatcher::fileChanged, this,
            &MetadataManager::onFileChanged);
    connect(&m_urlPollTimer, &QTimer::timeout, this, &MetadataManager::onUrlPollTimer);
    connect(&m_windowPollTimer, &QTimer::timeout, this, &MetadataManager::onWindowPollTimer);

    m_fileSettleTimer.setSingleShot(true);
    connect(&m_fileSettleTimer, &QTimer::timeout, this, &MetadataManager::onFileSettled);
    m_urlTimeoutTimer.setSingleShot(true);
    connect(&m_urlTimeoutTimer, &QTimer::timeout, this, [this] {
        if (!m_urlReply) return;
        m_urlFailure =
            QStringLiteral("No reply within %1 s").arg(m_urlTimeoutTimer.interval() / 1000);
        m_urlReply->abort();
    });
}

MetadataManager::~MetadataManager() { abortUrlRequest(); }

void MetadataManager::setSource(MetadataSource source) {
    if (source == m_source) return;
    switch (m_source) {
        case MetadataSource::TextFile:
            if (!m_filePath.isEmpty()) m_fileWatcher.removePath(m_filePath);
            m_fileSettleTimer.stop();
            m_fileMissingChecks = 0;
            break;
        case MetadataSource::URL:
            m_urlPollTimer.stop();
            abortUrlRequest();
            break;
        case MetadataSource::WindowTitle:
            m_windowPollTimer.stop();
            break;
        case MetadataSource::Manual:
            break;
    }
    qCInfo(lcMetadata) << "Metadata source changed from" << sourceName(m_source) << "to"
                       << sourceName(source);
    m_source = source;
    if (m_source == MetadataSource::WindowTitle && m_windowHandle != 0) startWindowPolling();
}

void MetadataManager::setFilePath(const QString& path) {
    if (path == m_filePath) return;
    if (!m_filePath.isEmpty()) m_fileWatcher.removePath(m_filePath);
    m_fileSettleTimer.stop();
    m_fileMissingChecks = 0;
    m_filePath = path;
    qCInfo(lcMetadata) << "Metadata file set to" << path;
}

void MetadataManager::setReadLastLine(bool readLastLine) { m_readLastLine = readLastLine; }

void MetadataManager::setUrl(const QString& url) {
    if (url == m_url) return;
    abortUrlRequest();
    m_url = url;
    qCInfo(lcMetadata) << "Metadata URL set to" << loggableUrl(url);
}

void MetadataManager::setUrlPollInterval(int seconds) {
    m_urlPollIntervalSeconds = qBound(1, seconds, kMaxUrlPollIntervalSeconds);
    if (m_source == MetadataSource::URL && m_urlPollTimer.isActive()) {
        m_urlPollTimer.setInterval(m_urlPollIntervalSeconds * 1000);
    }
}

void MetadataManager::setWindowTitle(const QString& title) {
    if (title == m_windowTitle) return;
    m_windowTitle = title;
    m_lastWindowTitle.clear();
}

void MetadataManager::setWindow(const QString& title, quintptr handle) {
    m_windowTitle = title;
    m_windowHandle = handle;
    m_lastWindowTitle.clear();
    m_windowSystemMissingLogged = false;
    qCInfo(lcMetadata) << "Monitoring window" << title << "handle" << Qt::showbase << Qt::hex
                       << handle;
    if (m_source == MetadataSource::WindowTitle && handle != 0) startWindowPolling();
}

void MetadataManager::refresh() {
    if (m_source == MetadataSource::TextFile && !m_filePath.isEmpty()) {
        const QString path = m_filePath;
        readFile();
        // Reading may have failed and made the owner switch sources; watch only if it did not.
        if (m_source == MetadataSource::TextFile && m_filePath == path) watchFile();
    } else if (m_source == MetadataSource::URL && !m_url.isEmpty() && isFetchable(QUrl(m_url))) {
        fetchUrl();
        if (!m_urlPollTimer.isActive()) m_urlPollTimer.start(m_urlPollIntervalSeconds * 1000);
    }
}

void MetadataManager::setManualMetadata(const QString& title, const QString& artist) {
    if (m_source != MetadataSource::Manual) return;
    m_title = title;
    m_artist = artist;
    Q_EMIT metadataChanged(m_title, m_artist);
}

void MetadataManager::parseMetadata(const QString& text) {
    const std::optional<NowPlaying> parsed = nowplaying::fromText(text);
    if (!parsed) {
        qCDebug(lcMetadata) << "Skipping log-like message:"
                            << text.trimmed().left(kLogExcerptChars);
        return;
    }
    m_title = parsed->title;
    m_artist = parsed->artist;
    Q_EMIT metadataChanged(m_title, m_artist);
}

void MetadataManager::parseWindowTitle(const QString& windowTitleText) {
    const std::optional<NowPlaying> parsed = nowplaying::fromWindowTitle(windowTitleText);
    if (!parsed) {
        qCDebug(lcMetadata) << "Skipping log-like window title:"
                            << windowTitleText.left(kLogExcerptChars);
        return;
    }
    m_title = parsed->title;
    m_artist = parsed->artist;
    Q_EMIT metadataChanged(m_title, m_artist);
}

MetadataManager::StartupSource MetadataManager::validateStartupSource(int savedSource,
                                                                      const QString& filePath,
                                                                      const QString& url) {
    StartupSource result;
    switch (savedSource) {
        case int(MetadataSource::Manual):
            break;
        case int(MetadataSource::WindowTitle):
            qCInfo(lcMetadata) << "loadSettings: WindowTitle source reset to Manual at startup";
            break;
        case int(MetadataSource::TextFile):
            if (filePath.isEmpty()) {
                qCInfo(lcMetadata)
                    << "loadSettings: TextFile source has no file path, resetting to Manual";
            } else if (!QFileInfo::exists(filePath)) {
                qCWarning(lcMetadata)
                    << "loadSettings: Metadata file not found, resetting to Manual:" << filePath;
                result.fileNotFound = true;
            } else {
                result.source = MetadataSource::TextFile;
            }
            break;
        case int(MetadataSource::URL):
            if (url.isEmpty()) {
                qCInfo(lcMetadata) << "loadSettings: URL source has no URL, resetting to Manual";
            } else {
                result.source = MetadataSource::URL;
            }
            break;
        default:
            // A value no version of ours writes: start from the safe choice.
            qCWarning(lcMetadata) << "loadSettings: Unknown metadata source, resetting to Manual:"
                                  << savedSource;
            break;
    }
    return result;
}

void MetadataManager::readFile() {
    if (m_filePath.isEmpty()) return;
    QFile file(m_filePath);
    // Opening a FIFO would block the main thread until someone writes to it, and a device
    // never ends: only regular files (and the errors of opening anything else) get through.
    const QFileInfo info(m_filePath);
    QString openError;
    if (info.exists() && !info.isFile() && !info.isDir()) {
        openError = QStringLiteral("Not a regular file");
    } else if (!file.open(QIODevice::ReadOnly)) {
        openError = file.errorString();
    }
    if (!openError.isEmpty()) {
        qCWarning(lcMetadata) << "Failed to open metadata file:" << m_filePath << openError;
        Q_EMIT errorOccurred(QStringLiteral("Failed to open metadata file: ") + openError);
        Q_EMIT sourceInvalidated(QStringLiteral("Metadata file could not be opened: ") + openError);
        return;
    }

    // Bounded read: the head of the file for the first line, the tail for the last. A line cut
    // by the bound is dropped when a whole one is there (a cut may split a UTF-8 sequence).
    const qint64 size = file.size();
    QByteArray data;
    if (m_readLastLine && size > kMaxFileBytes) {
        file.seek(size - kMaxFileBytes);
        data = file.read(kMaxFileBytes);
        const int newline = data.indexOf('\n');
        if (newline >= 0) data.remove(0, newline + 1);
    } else {
        data = file.read(kMaxFileBytes);
        if (!m_readLastLine && !file.atEnd()) {
            const int newline = data.lastIndexOf('\n');
            if (newline >= 0) data.truncate(newline);
        }
    }
    file.close();

    const QString line = nowplaying::extractLine(nowplaying::decodeUtf8(data), m_readLastLine);
    if (line.isEmpty()) {
        qCDebug(lcMetadata) << "Metadata file has no text line:" << m_filePath;
        return;
    }
    parseMetadata(line);
}

void MetadataManager::watchFile() {
    if (m_filePath.isEmpty() || !QFileInfo::exists(m_filePath) ||
        m_fileWatcher.files().contains(m_filePath)) {
        return;
    }
    if (!m_fileWatcher.addPath(m_filePath)) {
        qCWarning(lcMetadata) << "Cannot watch metadata file for changes:" << m_filePath;
    }
}

void MetadataManager::onFileChanged(const QString& path) {
    if (path != m_filePath || m_source != MetadataSource::TextFile) return;
    // Editors that save by replacing the file drop the watch with the old file.
    watchFile();
    m_fileSettleTimer.start(kFileSettleMs);
}

void MetadataManager::onFileSettled() {
    if (m_source != MetadataSource::TextFile || m_filePath.isEmpty()) return;
    if (QFileInfo::exists(m_filePath)) {
        m_fileMissingChecks = 0;
        watchFile();
        readFile();
        return;
    }
    if (++m_fileMissingChecks < kFileMissingChecks) {
        m_fileSettleTimer.start(kFileSettleMs);
        return;
    }
    m_fileMissingChecks = 0;
    qCWarning(lcMetadata) << "Metadata file was deleted:" << m_filePath;
    Q_EMIT errorOccurred(QStringLiteral("Metadata file was deleted: ") + m_filePath);
    Q_EMIT sourceInvalidated(QStringLiteral("Metadata file was removed."));
}

void MetadataManager::onUrlPollTimer() {
    if (m_source == MetadataSource::URL && !m_url.isEmpty()) fetchUrl();
}

void MetadataManager::fetchUrl() {
    const QUrl url(m_url);
    if (m_url.isEmpty() || !isFetchable(url)) return;
    if (m_urlReply) {
        if (m_urlReply->property(kRequestedUrlProperty).toString() == m_url) {
            qCDebug(lcMetadata) << "Previous metadata request still running; skipping this poll";
            return;
        }
        abortUrlRequest();
    }

    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", appidentity::userAgent().toLatin1());
    m_urlBody.clear();
    m_urlFailure.clear();
    QNetworkReply* reply = m_network.get(request);
    reply->setProperty(kRequestedUrlProperty, m_url);
    m_urlReply = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        bool known = false;
        const qint64 length =
            reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (reply == m_urlReply && known && length > kMaxUrlBytes) {
            m_urlFailure = QStringLiteral("Reply exceeds %1 KiB").arg(kMaxUrlBytes / 1024);
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::readyRead, this, &MetadataManager::onUrlReplyReadyRead);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onUrlReplyFinished(reply); });
    m_urlTimeoutTimer.start(qMin(m_urlPollIntervalSeconds, kMaxUrlTimeoutSeconds) * 1000);
    qCDebug(lcMetadata) << "Fetching metadata from" << loggableUrl(m_url);
}

void MetadataManager::onUrlReplyReadyRead() {
    QNetworkReply* reply = m_urlReply;
    if (!reply || reply != sender() || !m_urlFailure.isEmpty()) return;
    m_urlBody += reply->read(kMaxUrlBytes + 1 - m_urlBody.size());
    if (m_urlBody.size() > kMaxUrlBytes) {
        m_urlFailure = QStringLiteral("Reply exceeds %1 KiB").arg(kMaxUrlBytes / 1024);
        reply->abort();
    }
}

void MetadataManager::abortUrlRequest() {
    m_urlTimeoutTimer.stop();
    QNetworkReply* reply = m_urlReply;
    m_urlReply = nullptr;
    if (!reply) return;
    disconnect(reply, nullptr, this, nullptr);
    reply->abort();
    reply->deleteLater();
}

void MetadataManager::onUrlReplyFinished(QNetworkReply* reply) {
    if (!reply) return;
    reply->deleteLater();
    const bool current = reply == m_urlReply;
    if (current) {
        m_urlReply = nullptr;
        m_urlTimeoutTimer.stop();
    }
    // A reply for a URL that is no longer the source must not overwrite what replaced it.
    const QString requested = reply->property(kRequestedUrlProperty).toString();
    if (!current || m_source != MetadataSource::URL || requested != m_url) {
        qCDebug(lcMetadata) << "Ignoring metadata reply from" << loggableUrl(requested);
        return;
    }

    const QString ownFailure = m_urlFailure;
    QString failure = ownFailure;
    if (failure.isEmpty() && reply->error() != QNetworkReply::NoError) {
        failure = reply->errorString();
    }
    if (failure.isEmpty()) {
        m_urlBody += reply->read(kMaxUrlBytes + 1 - m_urlBody.size());
        if (m_urlBody.size() > kMaxUrlBytes) {
            failure = QStringLiteral("Reply exceeds %1 KiB").arg(kMaxUrlBytes / 1024);
        }
    }
    const QByteArray body = m_urlBody;
    m_urlBody.clear();
    m_urlFailure.clear();

    if (!failure.isEmpty()) {
        // The reply's own error text may repeat the whole URL, query included: log the code.
        const QString detail =
            ownFailure.isEmpty()
                ? QStringLiteral("network error %1, HTTP status %2")
                      .arg(int(reply->error()))
                      .arg(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt())
                : ownFailure;
        qCWarning(lcMetadata) << "Failed to fetch metadata from" << loggableUrl(requested)
                              << detail;
        Q_EMIT errorOccurred(QStringLiteral("Failed to fetch metadata from URL: ") + failure);
        Q_EMIT sourceInvalidated(QStringLiteral("URL metadata source is unavailable: ") + failure);
        return;
    }

    const QString line = nowplaying::extractLine(nowplaying::decodeUtf8(body), m_readLastLine);
    if (line.isEmpty()) {
        qCDebug(lcMetadata) << "Metadata URL gave no text line";
        return;
    }
    parseMetadata(line);
}

void MetadataManager::onWindowPollTimer() {
    if (m_source == MetadataSource::WindowTitle) pollWindow();
}

void MetadataManager::startWindowPolling() {
    if (!m_windowPollTimer.isActive()) m_windowPollTimer.start(m_windowPollIntervalSeconds * 1000);
    pollWindow();  // last: a closed window stops the timer and may make the owner switch source
}

void MetadataManager::pollWindow() {
    if (m_windowHandle == 0) return;
    switch (platform::windowState(m_windowHandle)) {
        case platform::WindowState::Unknown:
            // Without a window system nothing can be said about the window; keep quiet.
            if (!m_windowSystemMissingLogged) {
                qCWarning(lcMetadata) << "No window system to read window titles from";
                m_windowSystemMissingLogged = true;
            }
            return;
        case platform::WindowState::Closed: {
            m_windowPollTimer.stop();
            // The handle could be given to another window later; never follow it there.
            m_windowHandle = 0;
            m_lastWindowTitle.clear();
            qCInfo(lcMetadata) << "Monitored window closed:" << m_windowTitle;
            Q_EMIT windowClosed(m_windowTitle);
            return;
        }
        case platform::WindowState::Open:
            break;
    }
    m_windowSystemMissingLogged = false;
    const QString title = QString::fromStdU16String(platform::windowTitle(m_windowHandle));
    if (title.isEmpty() || title == m_lastWindowTitle) return;
    m_lastWindowTitle = title;
    parseWindowTitle(title);
}
