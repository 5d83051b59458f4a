#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// Points the per-user folders (XDG data, config, cache) at a fresh temporary folder, so a test
// never touches the real user's files. Create it before anything asks QStandardPaths.
class TestEnvironment {
public:
    TestEnvironment();
    QString root() const { return m_dir.path(); }
    QString dataHome() const { return m_dir.path() + QStringLiteral("/data"); }
    QString configHome() const { return m_dir.path() + QStringLiteral("/config"); }

private:
    QTemporaryDir m_dir;
};

// Sanitized builds run several times slower than real time: their pipelines still run (that is
// what the sanitizers check), but the audio they make is not measured.
#ifdef DOREDORADAR_SANITIZED_BUILD
inline constexpr bool kRealTimeBuild = false;
#else
inline constexpr bool kRealTimeBuild = true;
#endif

namespace testsupport {

// When the test runs as root, runs the named test function of this same binary again as user
// "nobody" (folder permissions only bind an unprivileged user) and returns true with the child's
// outcome in `passed`. Returns false when not root: run the case in-process.
bool rerunUnprivilegedIfRoot(const char* testFunction, bool& passed, QString& output);

// Whole-file helpers for tests that prepare or inspect files on disk. writeFile creates missing
// folders and returns false when the file could not be written completely.
QByteArray readFile(const QString& path);
bool writeFile(const QString& path, const QByteArray& content);

}  // namespace testsupport
