#pragma once

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Records every Qt message (category and text) while it exists and passes each on to the
// handler that was installed before (QtTest's, which prints it; debug lines only when
// `printDebug`). One at a time; any thread may log meanwhile. Create it in initTestCase or later:
// QtTest installs its own handler when it starts running the test functions.
class LogCapture {
public:
    explicit LogCapture(bool printDebug = true);
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList messages(const QString& category) const;
    // True when some message of any category contains `text` anywhere.
    bool mentions(const QString& text) const;
    void clear();
    // Every entry as "CATEGORY message", and those (or lines of `otherOutput`, a helper
    // process's say) that contain any of `needles` (empty needles are ignored): for searching a
    // whole run for text that must never appear, such as a secret.
    QStringList lines() const;
    QStringList linesContaining(const QStringList& needles,
                                const QString& otherOutput = QString()) const;

private:
    struct Entry {
        QString category;
        QString message;
    };

    static void handler(QtMsgType type, const QMessageLogContext& context, const QString& message);
    QList<Entry> entries() const;

    mutable QMutex m_mutex;
    QList<Entry> m_entries;
    QtMessageHandler m_previous = nullptr;
    bool m_printDebug;
};
