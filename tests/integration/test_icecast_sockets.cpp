// The socket helpers under the source client, on loopback: their result codes, bounded waits,
// no SIGPIPE, and aborting a blocked helper from another thread.
#include <QtTest>

#include <csignal>
#include <future>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "loopback_listener.h"
#include "platform/socket.h"

namespace {

// A connected pair: our side through tcpConnect, the peer side accepted.
struct Pair {
    Pair() {
        client = platform::tcpConnect("127.0.0.1", listener.port(), false, 2000);
        peer = listener.accept();
    }
    ~Pair() {
        platform::closeSocket(client);
        if (peer >= 0) ::close(peer);
    }
    LoopbackListener listener;
    int client = -1;
    int peer = -1;
};

}  // namespace

class TestIcecastSockets : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        // A write to a closed peer must not kill the process, whatever the default was.
        std::signal(SIGPIPE, SIG_DFL);
        platform::initializeSockets();
    }

    void connectResults() {
        Pair pair;
        QVERIFY(pair.client >= 0);
        QVERIFY(::fcntl(pair.client, F_GETFL) & O_NONBLOCK);

        quint16 closedPort;
        {
            LoopbackListener gone;
            closedPort = gone.port();
        }
        // Nothing listening is told apart from a timeout, on every address of the name.
        QCOMPARE(platform::tcpConnect("127.0.0.1", closedPort, false, 2000),
                 platform::kSocketRefused);
        QCOMPARE(platform::tcpConnect("localhost", closedPort, false, 2000),
                 platform::kSocketRefused);
        QCOMPARE(platform::tcpConnect("", 80, false, 2000), platform::kSocketLookupFailed);
    }

    void sendAllAndReceive() {
        Pair pair;
        QCOMPARE(platform::tcpSendAll(pair.client, "", 0, 1000), std::int64_t(0));
        QCOMPARE(platform::tcpSendAll(pair.client, "hello", 5, 1000), std::int64_t(5));
        char buffer[16] = {};
        QCOMPARE(int(::recv(pair.peer, buffer, sizeof(buffer), 0)), 5);
        QCOMPARE(QByteArray(buffer), QByteArray("hello"));

        QCOMPARE(platform::tcpReceive(pair.client, buffer, sizeof(buffer), 100),
                 platform::kSocketTimedOut);
        QCOMPARE(int(::send(pair.peer, "answer", 6, 0)), 6);
        QCOMPARE(platform::tcpReceive(pair.client, buffer, 3, 1000), 3);  // at most maxLength
        QCOMPARE(platform::tcpReceive(pair.client, buffer, sizeof(buffer), 1000), 3);
        ::close(pair.peer);
        pair.peer = -1;
        QCOMPARE(platform::tcpReceive(pair.client, buffer, sizeof(buffer), 1000),
                 platform::kSocketPeerClosed);
    }

    void resetIsAPeerClose() {
        Pair pair;
        linger hardClose{1, 0};
        ::setsockopt(pair.peer, SOL_SOCKET, SO_LINGER, &hardClose, sizeof(hardClose));
        ::close(pair.peer);
        pair.peer = -1;
        char buffer[8];
        QCOMPARE(platform::tcpReceive(pair.client, buffer, sizeof(buffer), 1000),
                 platform::kSocketPeerClosed);
    }

    void writingToAClosedPeerFailsWithoutSigpipe() {
        Pair pair;
        ::close(pair.peer);
        pair.peer = -1;
        const std::vector<char> chunk(4096, 'x');
        std::int64_t result = 0;
        for (int i = 0; i < 200 && result >= 0; ++i) {
            result = platform::tcpSendAll(pair.client, chunk.data(), chunk.size(), 500);
            QThread::msleep(5);
        }
        QCOMPARE(result, std::int64_t(platform::kSocketTimedOut));
        QCOMPARE(platform::lastSocketError(), platform::SocketError::PeerClosed);
    }

    void stalledWriteGivesUpAfterItsWait() {
        Pair pair;  // the peer never reads
        const std::vector<char> big(64 * 1024 * 1024, 'x');
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(platform::tcpSendAll(pair.client, big.data(), big.size(), 300),
                 std::int64_t(platform::kSocketTimedOut));
        QVERIFY(timer.elapsed() >= 290);
    }

    void abortWakesABlockedReceive() {
        Pair pair;
        platform::AbortableSocket holder;
        QVERIFY(holder.adopt(pair.client));
        pair.client = -1;  // the holder owns it now
        auto receiving = std::async(std::launch::async, [&holder] {
            char buffer[8];
            return platform::tcpReceive(holder.socket(), buffer, sizeof(buffer), 10000);
        });
        QThread::msleep(100);
        holder.abort();
        // Well before the receive's own 10 s bound.
        QCOMPARE(receiving.wait_for(std::chrono::seconds(3)), std::future_status::ready);
        QCOMPARE(receiving.get(), platform::kSocketPeerClosed);
        QVERIFY(holder.isAborted());
        QCOMPARE(holder.release(), -1);  // an aborted holder hands nothing over
        QVERIFY(holder.socket() >= 0);   // but still owns its socket until it closes it
        holder.close();
        QCOMPARE(holder.socket(), -1);
        QVERIFY(!holder.adopt(::socket(AF_INET, SOCK_STREAM, 0)));
    }

    void abortEndsAPendingConnect() {
        // A full accept queue leaves further connects pending.
        LoopbackListener full(0);
        full.fillAcceptQueue();
        platform::AbortableSocket holder;
        auto connecting = std::async(std::launch::async, [&holder, &full] {
            return platform::tcpConnect("127.0.0.1", full.port(), false, 10000, &holder);
        });
        QTRY_VERIFY(holder.socket() >= 0);
        QThread::msleep(100);
        holder.abort();
        QCOMPARE(connecting.wait_for(std::chrono::seconds(3)), std::future_status::ready);
        QCOMPARE(connecting.get(), platform::kSocketAborted);
        QCOMPARE(holder.socket(), -1);  // closed by the helper that opened it
    }

    void releaseHandsTheSocketOver() {
        Pair pair;
        platform::AbortableSocket holder;
        QVERIFY(holder.adopt(pair.client));
        const int socket = pair.client;
        pair.client = -1;
        QCOMPARE(holder.release(), socket);
        QCOMPARE(holder.socket(), -1);
        holder.abort();  // no longer affects the released socket
        QCOMPARE(platform::tcpSendAll(socket, "ok", 2, 1000), std::int64_t(2));
        platform::closeSocket(socket);
    }
};

QTEST_GUILESS_MAIN(TestIcecastSockets)
#include "test_icecast_sockets.moc"
