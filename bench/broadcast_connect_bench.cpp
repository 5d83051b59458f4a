// Connect-to-air: how long after connectAndBroadcast the server accepts the source, and how long
// after that the first audio byte is written (the primed start should make this almost nothing);
// and after a server restart, how long from the server's return until audio flows again. Then,
// per codec, how long after the server accepted the listener check says "verified".
//
// Usage: broadcast_connect_bench [connects] [restarts per delay]
// Starts its own PulseAudio (a 440 Hz sine on the stand-in microphone), Xvfb and Icecast.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "audio/encoder_settings.h"
#include "audio/obs_audio_manager.h"
#include "broadcast/broadcaster.h"
#include "icecast_server.h"
#include "pulse_server.h"
#include "scripted_source_server.h"
#include "test_environment.h"
#include "xvfb_server.h"

namespace {

struct Summary {
    double p50 = 0;
    double max = 0;
};

Summary summarize(std::vector<double> values) {
    if (values.empty()) return {};
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.back()};
}

// Milliseconds from now until `done` holds, -1 after `timeoutMs`.
template <typename Done>
double waitMs(const QElapsedTimer& clock, qint64 startNs, Done done, int timeoutMs) {
    while (!done()) {
        if (clock.nsecsElapsed() - startNs > qint64(timeoutMs) * 1000000) return -1;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return double(clock.nsecsElapsed() - startNs) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int connects = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    const int restarts = argc > 2 ? std::max(1, atoi(argv[2])) : 3;
    qputenv("QT_LOGGING_RULES", "*.info=false;*.debug=false;*.warning=false");

    TestEnvironment environment;
    PulseServer pulse;
    XvfbServer xvfb;
    IcecastServer icecast;
    QString error;
    if (!pulse.start(&error) || !xvfb.start(&error) || !icecast.start(&error)) {
        std::fprintf(stderr, "set-up failed: %s\n", qPrintable(error));
        return 1;
    }
    pulse.applyToProcess();
    xvfb.applyToProcess();
    pulse.pactl({"load-module", "module-sine", "sink=mic_sink", "frequency=440"});

    Doredoradar controller;
    if (!controller.initialize() ||
        !controller.audioManager()->setDeckInputDevice(1, QStringLiteral("test_mic"))) {
        std::fprintf(stderr, "the controller did not start\n");
        return 1;
    }
    IcecastClient* client = controller.icecastClient();
    QElapsedTimer clock;
    clock.start();

    // The stream the first time a deck starts delivers takes a moment; it is not what is measured.
    controller.audioManager()->startDeck(1);
    QTest::qWait(3000);
    controller.audioManager()->stopDeck(1);

    bool connected = false;
    bool firstByte = false;
    QObject::connect(client, &IcecastClient::connected, [&] { connected = true; });
    QObject::connect(client, &IcecastClient::sendCompleted,
                     [&](int, qint64, bool success) { firstByte = firstByte || success; });

    bool firstChunk = false;
    QObject::connect(controller.mixer(), &GStreamerMixer::encodedDataReady,
                     [&](const QByteArray&) { firstChunk = true; });

    // Against the local Icecast (a handshake of a few milliseconds) and against a server that
    // takes 300 ms to accept, as a distant one does.
    ScriptedSourceServer distant;
    distant.setSourceReplies({ScriptedSourceServer::Reply::answer("HTTP/1.0 200 OK\r\n\r\n", 300)});
    for (const bool local : {true, false}) {
        std::vector<double> handshakes;
        std::vector<double> toAir;
        std::vector<double> firstPackets;
        for (int i = 0; i < connects; ++i) {
            connected = firstByte = firstChunk = false;
            const qint64 start = clock.nsecsElapsed();
            controller.connectAndBroadcast(icecast.host(), local ? icecast.port() : distant.port(),
                                           QStringLiteral("/bench"), QStringLiteral("source"),
                                           icecast.options().sourcePassword);
            double firstPacket = -1;
            const double handshake = waitMs(
                clock, start,
                [&] {
                    if (firstChunk && firstPacket < 0) {
                        firstPacket = double(clock.nsecsElapsed() - start) / 1e6;
                    }
                    return connected;
                },
                15000);
            const qint64 acceptedAt = clock.nsecsElapsed();
            const double air = waitMs(
                clock, acceptedAt, [&] { return firstByte; }, 15000);
            if (firstPacket < 0)
                firstPacket = waitMs(
                    clock, start, [&] { return firstChunk; }, 1);
            if (handshake < 0 || air < 0) {
                std::fprintf(stderr, "connect %d did not go on air\n", i + 1);
                return 1;
            }
            handshakes.push_back(handshake);
            toAir.push_back(air);
            firstPackets.push_back(firstPacket);
            QTest::qWait(1500);
            controller.stopBroadcasting();
            client->disconnectFromServer();
            QTest::qWait(500);
        }
        const Summary h = summarize(handshakes);
        const Summary a = summarize(toAir);
        const Summary f = summarize(firstPackets);
        std::printf("%s, %d connects:\n", local ? "local Icecast" : "server accepting after 300 ms",
                    connects);
        std::printf("  connectAndBroadcast -> server accepted:   p50 %.1f ms, max %.1f ms\n", h.p50,
                    h.max);
        std::printf("  connectAndBroadcast -> first packet encoded: p50 %.1f ms, max %.1f ms\n",
                    f.p50, f.max);
        std::printf("  server accepted -> first audio written: p50 %.2f ms, max %.2f ms\n", a.p50,
                    a.max);
    }

    // Accepted -> verified, per codec, on the local Icecast.
    OnAirVerdict verdict = OnAirVerdict::Unreachable;
    qint64 verifiedAfterMs = -1;
    QObject::connect(client, &IcecastClient::listenerCheckFinished,
                     [&](OnAirVerdict v, qint64 afterAcceptedMs) {
                         verdict = v;
                         verifiedAfterMs = afterAcceptedMs;
                     });
    for (const Codec codec : {Codec::Opus, Codec::Vorbis, Codec::Aac, Codec::Mp3}) {
        controller.encoderSettings()->setEncoderType(int(codec));
        std::vector<double> checks;
        int verified = 0;
        for (int i = 0; i < connects; ++i) {
            verifiedAfterMs = -1;
            controller.connectAndBroadcast(icecast.host(), icecast.port(),
                                           QStringLiteral("/verify"), QStringLiteral("source"),
                                           icecast.options().sourcePassword);
            if (waitMs(
                    clock, clock.nsecsElapsed(), [&] { return verifiedAfterMs >= 0; }, 20000) < 0) {
                std::fprintf(stderr, "connect %d: no listener check\n", i + 1);
                return 1;
            }
            if (verdict == OnAirVerdict::Verified) ++verified;
            checks.push_back(double(verifiedAfterMs));
            controller.stopBroadcasting();
            client->disconnectFromServer();
            QTest::qWait(500);
        }
        const Summary v = summarize(checks);
        std::printf(
            "%s: server accepted -> listener check: p50 %.0f ms, max %.0f ms (%d of %d "
            "verified)\n",
            qPrintable(codecShortName(codec)), v.p50, v.max, verified, connects);
    }
    controller.encoderSettings()->setEncoderType(int(Codec::Opus));

    for (int delay : {1, 2, 5}) {
        client->setReconnectInterval(delay);
        // Under 2 s the attempts come every 100 ms: ten of them would run out during the outage.
        client->setMaxReconnectAttempts(delay < 2 ? 100 : 10);
        std::vector<double> back;
        connected = firstByte = false;
        controller.connectAndBroadcast(icecast.host(), icecast.port(), QStringLiteral("/restart"),
                                       QStringLiteral("source"), icecast.options().sourcePassword);
        QTest::qWait(2000);
        for (int i = 0; i < restarts; ++i) {
            icecast.stop();
            // Long enough for the loss to be noticed and the countdown to run.
            QTest::qWait(1500);
            if (!icecast.restart(&error)) {
                std::fprintf(stderr, "Icecast did not come back: %s\n", qPrintable(error));
                return 1;
            }
            firstByte = false;
            const qint64 returned = clock.nsecsElapsed();
            const double flowing = waitMs(
                clock, returned, [&] { return firstByte; }, 30000);
            if (flowing < 0) {
                std::fprintf(stderr, "restart %d (delay %d s) never came back on air\n", i + 1,
                             delay);
                return 1;
            }
            back.push_back(flowing);
            QTest::qWait(2000);
        }
        const Summary b = summarize(back);
        std::printf(
            "server back -> audio flowing, reconnect delay %d s: p50 %.0f ms, max %.0f ms"
            " (%d restarts)\n",
            delay, b.p50, b.max, restarts);
        controller.stopBroadcasting();
        client->cancelReconnect();
        client->disconnectFromServer();
        QTest::qWait(500);
    }
    controller.shutdown();
    return 0;
}
