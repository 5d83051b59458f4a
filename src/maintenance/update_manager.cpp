#include "maintenance/update_manager.h"

#include <string>

#include <QUrl>

#include "build_config.h"
#include "core/app_identity.h"
#include "core/log_categories.h"
#include "platform/desktop_opener.h"
#include "platform/native_updater.h"

// Update checks: the texts every backend reports, and the fallback that opens the feed.
UpdateManager::UpdateManager(QObject* parent)
    : QObject(parent),
      m_backend(platform::hasNativeUpdater() ? Backend::WinSparkle : Backend::None) {}

void UpdateManager::setFeedUrl(const QString& url) { m_feedUrl = url.trimmed(); }

void UpdateManager::setChannel(const QString& channel) { m_channel = channel.trimmed(); }

void UpdateManager::initialize() {
    if (m_initialized) return;
    m_initialized = true;

    switch (m_backend) {
        case Backend::Sparkle:
            Q_EMIT statusMessage(QStringLiteral("Updater initialized (Sparkle backend)"));
            break;
        case Backend::WinSparkle: {
            platform::NativeUpdaterDetails details;
            details.appcastUrl = m_feedUrl.toStdString();
            details.companyName = QStringLiteral("Ondaro").toStdU16String();
            details.applicationName = QStringLiteral("Ondaro Doredoradar").toStdU16String();
            details.version = appidentity::version().toStdU16String();
            details.publicKeyBase64 = buildconfig::kUpdatePublicKey;
            std::string error;
            if (platform::startNativeUpdater(details, error)) {
                Q_EMIT statusMessage(QStringLiteral("Updater initialized (WinSparkle backend)"));
            } else {
                const QString message =
                    error.empty() ? QStringLiteral("Failed to initialize WinSparkle backend")
                                  : QString::fromStdString(error);
                qCWarning(lcUpdater).noquote() << "WinSparkle initialization failed:" << message;
                Q_EMIT errorOccurred(message);
            }
            break;
        }
        case Backend::None:
            Q_EMIT statusMessage(QStringLiteral("Updater initialized (fallback mode)"));
            break;
    }

    qCInfo(lcUpdater).noquote() << "Initialized update manager. Backend:" << int(m_backend)
                                << "Feed:" << m_feedUrl << "Channel:" << m_channel;
    Q_EMIT initialized(m_backend);
}

void UpdateManager::checkForUpdates(bool userInitiated) {
    if (!m_initialized) initialize();
    Q_EMIT checkStarted(userInitiated);

    if (m_feedUrl.isEmpty()) {
        reportError(QStringLiteral("Update feed URL is not configured"));
        Q_EMIT checkCompleted(false);
        return;
    }

    if (m_backend == Backend::WinSparkle) {
        std::string error;
        if (platform::checkNativeUpdaterWithUi(error)) {
            Q_EMIT statusMessage(QStringLiteral("Checking for updates..."));
        } else {
            reportError(error.empty() ? QStringLiteral("WinSparkle failed to start update check")
                                      : QString::fromStdString(error));
        }
    } else if (m_backend == Backend::Sparkle) {
        const QString message = QStringLiteral(
            "Update backend is configured but runtime integration is still in progress.");
        Q_EMIT statusMessage(message);
        qCInfo(lcUpdater).noquote() << message << "Backend:" << int(m_backend);
        if (userInitiated) openFeedUrl();
    } else {
        const QString message =
            QStringLiteral("Native updater backend is not linked yet. Opening update feed URL.");
        Q_EMIT statusMessage(message);
        qCWarning(lcUpdater).noquote() << message << "URL:" << m_feedUrl;
        if (userInitiated) openFeedUrl();
    }
    Q_EMIT checkCompleted(false);
}

void UpdateManager::reportError(const QString& message) {
    qCWarning(lcUpdater).noquote() << message;
    Q_EMIT errorOccurred(message);
}

// An opener that cannot be started is said, not passed over: the user asked for the page.
void UpdateManager::openFeedUrl() {
    std::string error;
    const QByteArray url = QUrl(m_feedUrl).toEncoded();
    if (!platform::openWithDesktop(url.toStdString(), error)) {
        reportError(QStringLiteral("Could not open the update feed URL: %1")
                        .arg(QString::fromStdString(error)));
    }
}
