// Window titles of real X11 windows on a private Xvfb display: which windows are listed, how
// their names are read, whether they are open, and the metadata manager following one.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include <unistd.h>
#include <xcb/xcb.h>

#include <QtTest>

#include "metadata/metadata_manager.h"
#include "platform/window_titles.h"
#include "xvfb_server.h"

namespace {

// Top-level windows on a given X display, made through an X connection of the test's own (not
// the one the code under test opens), whose names and properties the test changes. Every call
// returns once the X server has applied it; false or 0 when it could not.
class X11TestWindows {
public:
    ~X11TestWindows() { stop(); }

    bool start(const QString& display) {
        int screenNumber = 0;
        m_connection = xcb_connect(display.toLocal8Bit().constData(), &screenNumber);
        if (xcb_connection_has_error(m_connection)) {
            stop();
            return false;
        }
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
        m_screen = *screens.data;
        return true;
    }

    // Also removes a client list it published.
    void stop() {
        if (!m_connection) return;
        if (m_publishedClientList && !xcb_connection_has_error(m_connection)) setClientList();
        xcb_disconnect(m_connection);
        m_connection = nullptr;
    }

    // Maps a new window, named unless `title` is null.
    quintptr create(const QString& title) {
        if (!m_connection) return 0;
        const xcb_window_t window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, m_screen.root, 10, 10, 200,
                          100, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, m_screen.root_visual,
                          XCB_CW_BACK_PIXEL, &m_screen.white_pixel);
        if (!title.isNull() && !setTitle(window, title.toUtf8())) return 0;
        xcb_map_window(m_connection, window);
        return sync() ? window : 0;
    }

    // _NET_WM_NAME and WM_NAME, both UTF-8.
    bool setTitle(quintptr window, const QByteArray& utf8) {
        return setRawName(window, utf8) &&
               set(window, "WM_NAME", atom("UTF8_STRING"), 8, utf8.constData(), utf8.size());
    }
    // WM_NAME alone as STRING (Latin-1), _NET_WM_NAME removed.
    bool setLegacyName(quintptr window, const QByteArray& latin1) {
        xcb_delete_property(m_connection, xcb_window_t(window), atom("_NET_WM_NAME"));
        return set(window, "WM_NAME", XCB_ATOM_STRING, 8, latin1.constData(), latin1.size());
    }
    // _NET_WM_NAME exactly these bytes (for invalid UTF-8).
    bool setRawName(quintptr window, const QByteArray& bytes) {
        return set(window, "_NET_WM_NAME", atom("UTF8_STRING"), 8, bytes.constData(), bytes.size());
    }
    bool setPid(quintptr window, quint32 pid) {
        return set(window, "_NET_WM_PID", XCB_ATOM_CARDINAL, 32, &pid, 1);
    }
    bool setType(quintptr window, const QByteArray& typeAtom) {
        const xcb_atom_t type = atom(typeAtom);
        return set(window, "_NET_WM_WINDOW_TYPE", XCB_ATOM_ATOM, 32, &type, 1);
    }
    bool unmap(quintptr window) {
        xcb_unmap_window(m_connection, xcb_window_t(window));
        return sync();
    }
    bool destroy(quintptr window) {
        xcb_destroy_window(m_connection, xcb_window_t(window));
        return sync();
    }
    // _NET_CLIENT_LIST on the root window, as a window manager publishes it; none removes it.
    bool setClientList(const QList<quintptr>& windows = {}) {
        m_publishedClientList = !windows.isEmpty();
        if (windows.isEmpty()) {
            xcb_delete_property(m_connection, m_screen.root, atom("_NET_CLIENT_LIST"));
            return sync();
        }
        const std::vector<xcb_window_t> ids(windows.cbegin(), windows.cend());
        return set(m_screen.root, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW, 32, ids.data(), ids.size());
    }

private:
    xcb_atom_t atom(const QByteArray& name) {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            m_connection,
            xcb_intern_atom(m_connection, 0, uint16_t(name.size()), name.constData()), nullptr);
        const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return result;
    }

    bool set(quintptr window, const char* property, xcb_atom_t type, int format, const void* data,
             size_t count) {
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window),
                            atom(property), type, uint8_t(format), uint32_t(count), data);
        return sync();
    }

    // A round trip: once it returns, the server has handled everything sent before.
    bool sync() {
        xcb_get_input_focus_reply_t* reply =
            xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr);
        std::free(reply);
        return reply != nullptr;
    }

    xcb_connection_t* m_connection = nullptr;
    xcb_screen_t m_screen{};
    bool m_publishedClientList = false;
};

const platform::WindowEntry* findEntry(const std::vector<platform::WindowEntry>& entries,
                                       quintptr window) {
    const auto it =
        std::find_if(entries.begin(), entries.end(),
                     [window](const platform::WindowEntry& e) { return e.handle == window; });
    return it == entries.end() ? nullptr : &*it;
}

QString titleOf(quintptr window) {
    return QString::fromStdU16String(platform::windowTitle(window));
}

}  // namespace

class TestMetadataWindow : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QString error;
        QVERIFY2(m_xvfb.start(&error), qPrintable(error));
        m_xvfb.applyToProcess();
        QVERIFY(m_windows.start(m_xvfb.display()));
    }

    void cleanupTestCase() {
        m_windows.stop();
        m_xvfb.stop();
    }

    void listsTitledApplicationWindowsOfOtherPrograms() {
        QVERIFY(platform::windowSystemAvailable());
        const quintptr player = m_windows.create(QStringLiteral("Artist - Song - Spotify"));
        const quintptr untitled = m_windows.create(QString());
        const quintptr ours = m_windows.create(QStringLiteral("Our Own Window"));
        const quintptr dock = m_windows.create(QStringLiteral("Panel"));
        const quintptr hidden = m_windows.create(QStringLiteral("Hidden Player"));
        QVERIFY(player && untitled && ours && dock && hidden);
        // Windows of this process are ours, and the player's belong to the one that started us.
        QVERIFY(m_windows.setPid(ours, quint32(::getpid())));
        QVERIFY(m_windows.setPid(player, quint32(::getppid())));
        QVERIFY(m_windows.setType(dock, "_NET_WM_WINDOW_TYPE_DOCK"));
        QVERIFY(m_windows.unmap(hidden));

        // No window manager: the mapped top-level windows are the list.
        std::vector<platform::WindowEntry> entries = platform::listApplicationWindows();
        const platform::WindowEntry* entry = findEntry(entries, player);
        QVERIFY(entry);
        QCOMPARE(QString::fromStdU16String(entry->title),
                 QStringLiteral("Artist - Song - Spotify"));
        QVERIFY(!findEntry(entries, untitled));
        QVERIFY(!findEntry(entries, ours));
        QVERIFY(!findEntry(entries, dock));
        QVERIFY(!findEntry(entries, hidden));

        // A window manager's client list is authoritative: managed windows only, minimised
        // (unmapped) ones included.
        QVERIFY(m_windows.setClientList({hidden, untitled, ours, dock}));
        entries = platform::listApplicationWindows();
        QCOMPARE(entries.size(), size_t(1));
        QCOMPARE(entries.front().handle, hidden);
        QCOMPARE(QString::fromStdU16String(entries.front().title), QStringLiteral("Hidden Player"));
        QVERIFY(m_windows.setClientList());

        for (quintptr window : {player, untitled, ours, dock, hidden}) {
            QVERIFY(m_windows.destroy(window));
        }
    }

    void readsTitlesAsTheyAreStored() {
        const quintptr window = m_windows.create(QStringLiteral("placeholder"));
        QVERIFY(window);

        const QString unicode = QStringLiteral("Sigur Rós – Hoppípolla \U0001F3B5");
        QVERIFY(m_windows.setTitle(window, unicode.toUtf8()));
        QCOMPARE(titleOf(window), unicode);

        // Only the old-style name, in Latin-1.
        QVERIFY(m_windows.setLegacyName(window, "Caf\xe9 - Song"));
        QCOMPARE(titleOf(window), QStringLiteral("Café - Song"));

        // Bytes that are not UTF-8 come out as replacement characters.
        QVERIFY(m_windows.setRawName(window, QByteArray::fromHex("41c3284220ff")));
        QCOMPARE(titleOf(window), QStringLiteral("A\uFFFD(B \uFFFD"));

        // Cut as Windows cuts: 511 UTF-16 units, never half a surrogate pair.
        QVERIFY(m_windows.setTitle(window, QByteArray(600, 'x')));
        QCOMPARE(titleOf(window), QString(511, QLatin1Char('x')));
        const QString split = QString(510, QLatin1Char('y')) + QStringLiteral("\U0001F3B5");
        QVERIFY(m_windows.setTitle(window, split.toUtf8()));
        QCOMPARE(titleOf(window), QString(510, QLatin1Char('y')));

        QVERIFY(m_windows.destroy(window));
        QCOMPARE(titleOf(window), QString());
        QCOMPARE(titleOf(0), QString());
    }

    void windowStateFollowsTheWindow() {
        const quintptr window = m_windows.create(QStringLiteral("Short-lived"));
        QVERIFY(window);
        QCOMPARE(platform::windowState(window), platform::WindowState::Open);
        QCOMPARE(platform::windowState(0), platform::WindowState::Closed);
        QCOMPARE(platform::windowState(quintptr(0x1FFFFF00)), platform::WindowState::Closed);
        QCOMPARE(platform::windowState(~quintptr(0)), platform::WindowState::Closed);

        // Under a window manager, a window that left its client list is gone.
        const quintptr other = m_windows.create(QStringLiteral("Other"));
        QVERIFY(m_windows.setClientList({other}));
        QCOMPARE(platform::windowState(window), platform::WindowState::Closed);
        QVERIFY(m_windows.setClientList({other, window}));
        QCOMPARE(platform::windowState(window), platform::WindowState::Open);
        QVERIFY(m_windows.setClientList());

        QVERIFY(m_windows.destroy(window));
        QCOMPARE(platform::windowState(window), platform::WindowState::Closed);
        QVERIFY(m_windows.destroy(other));
    }

    void managerFollowsTheWindowTitle() {
        const quintptr window = m_windows.create(QStringLiteral("Artist - Song - Spotify"));
        QVERIFY(window);
        MetadataManager manager;
        QSignalSpy changed(&manager, &MetadataManager::metadataChanged);
        QSignalSpy closed(&manager, &MetadataManager::windowClosed);
        auto* timer = manager.findChild<QTimer*>(QStringLiteral("windowPollTimer"));
        QVERIFY(timer);

        // Chosen while another source is selected: nothing happens until the source switches.
        manager.setWindow(QStringLiteral("Player"), window);
        QCOMPARE(changed.size(), 0);
        QVERIFY(!timer->isActive());
        manager.setSource(MetadataSource::WindowTitle);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0), (QVariantList{QStringLiteral("Song"), QStringLiteral("Artist")}));
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 2000);

        // The same title again is no news.
        manager.onWindowPollTimer();
        manager.onWindowPollTimer();
        QCOMPARE(changed.size(), 1);

        // A new title arrives through the running poll.
        QVERIFY(m_windows.setTitle(window, "Tune \xe2\x80\xa2 Singer - YouTube Music"));
        QTRY_COMPARE_WITH_TIMEOUT(changed.size(), 2, 5000);
        QCOMPARE(changed.at(1), (QVariantList{QStringLiteral("Tune"), QStringLiteral("Singer")}));

        QVERIFY(m_windows.destroy(window));
        manager.onWindowPollTimer();
        QCOMPARE(closed.size(), 1);
        QCOMPARE(closed.at(0).at(0).toString(), QStringLiteral("Player"));
        QVERIFY(!timer->isActive());
        QCOMPARE(manager.windowHandle(), quintptr(0));
        manager.onWindowPollTimer();
        QCOMPARE(closed.size(), 1);
        QCOMPARE(changed.size(), 2);
    }

    void closedWindowMakesTheOwnerSwitchBack() {
        // The main window answers windowClosed by selecting manual entry, from inside the poll
        // that setSource started.
        const quintptr window = m_windows.create(QStringLiteral("Doomed"));
        QVERIFY(m_windows.destroy(window));
        MetadataManager manager;
        connect(&manager, &MetadataManager::windowClosed, &manager,
                [&manager] { manager.setSource(MetadataSource::Manual); });
        QSignalSpy closed(&manager, &MetadataManager::windowClosed);
        manager.setWindow(QStringLiteral("Doomed"), window);
        manager.setSource(MetadataSource::WindowTitle);
        QCOMPARE(closed.size(), 1);
        QCOMPARE(manager.source(), MetadataSource::Manual);
        QVERIFY(!manager.findChild<QTimer*>(QStringLiteral("windowPollTimer"))->isActive());
    }

    void nothingIsReportedWithoutAnXServer() {
        const quintptr window = m_windows.create(QStringLiteral("Artist - Song"));
        QVERIFY(window);
        MetadataManager manager;
        QSignalSpy changed(&manager, &MetadataManager::metadataChanged);
        QSignalSpy closed(&manager, &MetadataManager::windowClosed);
        manager.setSource(MetadataSource::WindowTitle);
        manager.setWindow(QStringLiteral("Player"), window);
        QCOMPARE(changed.size(), 1);

        const QByteArray display = qgetenv("DISPLAY");
        qunsetenv("DISPLAY");
        QVERIFY(!platform::windowSystemAvailable());
        QVERIFY(platform::listApplicationWindows().empty());
        QCOMPARE(platform::windowState(window), platform::WindowState::Unknown);
        QVERIFY(m_windows.setTitle(window, "Other - Song"));
        manager.onWindowPollTimer();
        qputenv("DISPLAY", ":65000");  // nothing listens there
        QVERIFY(!platform::windowSystemAvailable());
        manager.onWindowPollTimer();
        QCOMPARE(changed.size(), 1);
        QCOMPARE(closed.size(), 0);

        // The display comes back: the poll carries on where it was.
        qputenv("DISPLAY", display);
        manager.onWindowPollTimer();
        QCOMPARE(changed.size(), 2);
        QCOMPARE(manager.artist(), QStringLiteral("Other"));

        // An X server that dies under a watched window says nothing about the window either.
        XvfbServer second;
        QString error;
        QVERIFY2(second.start(&error), qPrintable(error));
        X11TestWindows remote;
        QVERIFY(remote.start(second.display()));
        const quintptr remoteWindow = remote.create(QStringLiteral("Remote - Song"));
        QVERIFY(remoteWindow);
        qputenv("DISPLAY", second.display().toLocal8Bit());
        manager.setWindow(QStringLiteral("Remote"), remoteWindow);
        QCOMPARE(changed.size(), 3);
        remote.stop();
        second.stop();
        manager.onWindowPollTimer();
        QCOMPARE(closed.size(), 0);
        QCOMPARE(changed.size(), 3);
        QVERIFY(platform::listApplicationWindows().empty());
        qputenv("DISPLAY", display);
        QVERIFY(platform::windowSystemAvailable());
    }

private:
    XvfbServer m_xvfb;
    X11TestWindows m_windows;
};

QTEST_GUILESS_MAIN(TestMetadataWindow)
#include "test_metadata_window.moc"
