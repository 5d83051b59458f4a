#pragma once

#include <QObject>
#include <QString>

// Checks for new versions of the application. Where the build has a native updater (WinSparkle
// on Windows) it drives that, which verifies and installs updates with its own windows; elsewhere
// (Linux) the fallback opens the update feed in the user's browser when the user asks to check.
// Main thread only.
class UpdateManager : public QObject {
    Q_OBJECT

public:
    enum class Backend {
        None = 0,  // fallback: no updater library
        Sparkle = 1,
        WinSparkle = 2,
    };
    Q_ENUM(Backend)

    // The backend is the one this build has: WinSparkle on Windows, None elsewhere.
    explicit UpdateManager(QObject* parent = nullptr);

    // Both are stored trimmed; the channel is only logged.
    void setFeedUrl(const QString& url);
    void setChannel(const QString& channel);
    QString feedUrl() const { return m_feedUrl; }
    QString channel() const { return m_channel; }
    Backend backend() const { return m_backend; }
    bool isInitialized() const { return m_initialized; }

    // Once; a second call does nothing and emits nothing.
    void initialize();
    // Initialises first when needed. checkCompleted always carries false: a native updater shows
    // its own outcome.
    void checkForUpdates(bool userInitiated);

Q_SIGNALS:
    void initialized(UpdateManager::Backend backend);
    void checkStarted(bool userInitiated);
    void checkCompleted(bool updateAvailable);
    void statusMessage(const QString& message);
    void errorOccurred(const QString& message);

private:
    void reportError(const QString& message);
    void openFeedUrl();

    Backend m_backend;
    QString m_feedUrl;
    QString m_channel;
    bool m_initialized = false;
};
