// Many trackers at once: each its own session, its own OUT connection and its own answers; the
// armed command once per tracker; mirrors that answer, are down or stall; a flood beside a slow
// tracker. One tracker at a time is the rest of the suite.

#include "capturefiles.h"
#include "enginerig.h"

#include <QRegularExpression>
#include <QtTest>

#include <thread>

using namespace Qt::StringLiterals;

namespace {

// A server that answers every read of each of its connections with "ok<connection>:" and what
// it read, so that an answer names the connection it came from. The first connection may be
// left unread from its start (its bytes wait in it) until resumeFirst().
struct AnsweringServer final : QObject
{
    explicit AnsweringServer(quint16 port = 0, bool holdFirst = false) : holdingFirst(holdFirst)
    {
        server.listen(QHostAddress::LocalHost, port);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = server.nextPendingConnection()) {
                const QByteArray name = "ok" + QByteArray::number(++connections) + ':';
                sockets.append(s);
                receivedBy.append(QByteArray());
                if (holdingFirst && connections == 1)
                    s->setReadBufferSize(1); // a byte, never taken, and Qt reads no further
                connect(s, &QTcpSocket::readyRead, s, [this, s, name, i = sockets.size() - 1] {
                    if (holdingFirst && i == 0)
                        return;
                    const QByteArray bytes = s->readAll();
                    received += bytes;
                    receivedBy[i] += bytes;
                    s->write(name + bytes);
                });
            }
        });
    }
    void resumeFirst()
    {
        holdingFirst = false;
        sockets[0]->setReadBufferSize(0);
        emit sockets[0]->readyRead(); // the byte already taken
    }
    bool holdingFirst;
    QTcpServer server;
    int connections = 0;
    QByteArray received;
    QList<QTcpSocket *> sockets;
    QList<QByteArray> receivedBy; // by connection, in the order they came
};

QString peerOf(const QTcpSocket &tracker)
{
    return QStringLiteral("127.0.0.1:%1").arg(tracker.localPort());
}

// Sends a chunk and waits until it has been captured.
bool sendAndWait(EngineRig &rig, QTcpSocket &tracker, const QByteArray &chunk)
{
    const qsizetype before = rig.events.size();
    tracker.write(chunk);
    return QTest::qWaitFor([&] {
        for (qsizetype i = before; i < rig.events.size(); ++i)
            if (rig.events[i].kind == SessionEvent::Kind::In && rig.events[i].peer == peerOf(tracker))
                return true;
        return false;
    });
}

QList<QByteArray> inChunksOf(const EngineRig &rig, const QString &peer)
{
    QList<QByteArray> chunks;
    for (const SessionEvent &event : rig.events)
        if (event.kind == SessionEvent::Kind::In && event.peer == peer)
            chunks.append(rig.file(event.file));
    return chunks;
}

} // namespace

class tst_Fleet final : public QObject
{
    Q_OBJECT

private slots:
    void threeTrackersEachWithItsOwnRelayAndAnswers()
    {
        AnsweringServer out;
        EngineRig rig(EngineRig::Relay::ToPort, out.server.serverPort());
        rig.keepEvents();
        rig.controls.switches.maxTrackers = 3;
        rig.controls.switches.passAnswers = true;
        rig.start();
        std::vector<std::unique_ptr<QTcpSocket>> trackers;
        for (int i = 0; i < 3; ++i) {
            trackers.push_back(rig.connectTracker());
            QVERIFY(trackers.back());
        }
        QTRY_COMPARE(out.connections, 3); // one OUT connection per tracker, none at the start
        QCOMPARE(rig.engine.trackers().rowCount(), 3);

        // The fourth is declined as a second tracker is with one at a time.
        QTcpSocket fourth;
        QSignalSpy declined(&fourth, &QTcpSocket::disconnected);
        fourth.connectToHost(QHostAddress::LocalHost, rig.inPort);
        QTRY_COMPARE(declined.size(), 1);
        QCOMPARE(rig.controls.log.count(QStringLiteral(" connected.")), 3);

        QList<QByteArray> answers(3);
        const auto chunk = [](int i, int round) {
            return "T" + QByteArray::number(i) + "-" + QByteArray::number(round);
        };
        for (int round = 1; round <= 2; ++round) {
            for (int i = 0; i < 3; ++i)
                QVERIFY(sendAndWait(rig, *trackers[i], chunk(i, round)));
            for (int i = 0; i < 3; ++i)
                QTRY_VERIFY((answers[i] += trackers[i]->readAll()).endsWith(chunk(i, round)));
        }
        for (int i = 0; i < 3; ++i) {
            // Each gets its own answers only, all over the one connection the server saw from it.
            const QRegularExpression own(
                QStringLiteral("^(ok\\d):%1\\1:%2$")
                    .arg(QLatin1StringView(chunk(i, 1)), QLatin1StringView(chunk(i, 2))));
            QVERIFY2(own.match(QString::fromLatin1(answers[i])).hasMatch(), answers[i].constData());
            QCOMPARE(inChunksOf(rig, peerOf(*trackers[i])), (QList<QByteArray>{chunk(i, 1), chunk(i, 2)}));
            QVERIFY(rig.controls.log.contains(
                QStringLiteral("Tracker %1 connected.\r\n").arg(peerOf(*trackers[i]))));
        }
        // Every answer is captured under the OUT port and indexed as its tracker's, byte for byte.
        QTRY_COMPARE(rig.events.count(), 1 + 3 + 1 + 6 + 6 + 6);
        int answersSeen = 0;
        for (const SessionEvent &event : std::as_const(rig.events)) {
            if (event.kind != SessionEvent::Kind::Out)
                continue;
            ++answersSeen;
            QCOMPARE(event.port, rig.outPort);
            const QByteArray answer = rig.file(event.file);
            QVERIFY(inChunksOf(rig, event.peer).contains(answer.mid(answer.indexOf(':') + 1)));
            QVERIFY(
                event.note.startsWith(QStringLiteral("from 127.0.0.1:%1 local 127.0.0.1:").arg(rig.outPort)));
        }
        QCOMPARE(answersSeen, 6);
        QCOMPARE(rig.events.constFirst().note,
                 QStringLiteral("relay to 127.0.0.1:%1 per tracker").arg(rig.outPort));
        // The pane names each tracker in its tags.
        QVERIFY(
            rig.controls.dataLines.filter(QStringLiteral(":  IN %1 (ASCII):T0-1").arg(peerOf(*trackers[0])))
                .size() == 1);
        QVERIFY(rig.controls.dataLines.filter(QStringLiteral(":  -> %1 (HEXAD):").arg(peerOf(*trackers[2])))
                    .size() == 2);

        // A tracker that leaves takes its OUT connection and its row with it.
        const QString leaving = peerOf(*trackers[1]);
        trackers[1]->disconnectFromHost();
        QTRY_VERIFY(rig.controls.log.contains(QStringLiteral("Tracker %1 disconnected.").arg(leaving)));
        QCOMPARE(rig.engine.trackers().rowCount(), 2);
        QCOMPARE(rig.engine.trackers().row(0).chunks, 2);
        QCOMPARE(rig.engine.trackers().row(0).bytesOut, 2 * 8);
        QVERIFY(!rig.engine.hasEnded());
    }

    void refusedRelayClosesOnlyItsTracker()
    {
        const quint16 port = LoopbackSocket::freePort();
        EngineRig rig(EngineRig::Relay::ToPort, port);
        rig.controls.switches.maxTrackers = 2;
        rig.start();
        QTcpSocket refused;
        refused.connectToHost(QHostAddress::LocalHost, rig.inPort);
        QVERIFY(refused.waitForConnected());
        const QString name = peerOf(refused);
        QTRY_VERIFY(rig.controls.log.contains(
            QStringLiteral(
                "OUT connection of tracker %1 to 127.0.0.1:%2 ended: Connection is forcefully rejected.\r\n"
                "Tracker %1 disconnected.\r\n")
                .arg(name)
                .arg(port)));
        QTRY_COMPARE(refused.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(!rig.engine.hasEnded());

        // The server comes up: the next tracker is relayed.
        AnsweringServer out(port);
        auto tracker = rig.connectTracker();
        QVERIFY(tracker);
        tracker->write("after");
        QTRY_COMPARE(out.received, QByteArray("after"));
    }

    void armedCommandOncePerTracker_data()
    {
        QTest::addColumn<bool>("onConnect");
        QTest::newRow("on connection") << true;
        QTest::newRow("after the next chunk") << false;
    }

    void armedCommandOncePerTracker()
    {
        QFETCH(bool, onConnect);
        EngineRig rig;
        rig.controls.switches.maxTrackers = 2;
        rig.controls.texts[Control::Command] = QStringLiteral("PING");
        rig.controls.values[Control::AutoSend] = CheckValue::Ticked;
        rig.controls.values[Control::SendOnConnect] = onConnect ? CheckValue::Ticked : CheckValue::Clear;
        rig.start();
        for (int i = 0; i < 2; ++i) {
            auto tracker = rig.connectTracker();
            QVERIFY(tracker);
            for (int chunk = 0; chunk < 2; ++chunk)
                QVERIFY(rig.sendChunk(*tracker, "x"));
            QByteArray got;
            QTRY_COMPARE((got += tracker->readAll()), QByteArray("PING\r\n"));
            QVERIFY(!tracker->waitForReadyRead(50));
            QVERIFY(
                rig.controls.dataLines.filter(QStringLiteral(": OUT %1 (ASCII):PING").arg(peerOf(*tracker)))
                    .size() == 1);
        }
        // Both stay armed for the trackers still to come.
        QCOMPARE(rig.controls.values[Control::AutoSend], CheckValue::Ticked);
        QCOMPARE(rig.controls.values[Control::SendOnConnect],
                 onConnect ? CheckValue::Ticked : CheckValue::Clear);
    }

    void mirrorsThatAnswerAreDownOrStall()
    {
        // One tracker and three mirrors: one answers, one refuses, one never reads. The relay gets
        // every byte in order all the same. The one that answers reads on a thread of its own, so
        // that it keeps up whatever order the event loop serves the sockets in.
        QByteArray flood = LoopbackSocket::randomBytes(16 * 1024 * 1024, 24);
        flood.replace(0, 5, "hello");
        ThreadedOutServer relay(flood, {});
        ThreadedOutServer answering(flood, "ok1:hello", true);
        const quint16 down = LoopbackSocket::freePort();
        const LoopbackSocket stalled = LoopbackSocket::listen(); // accepts nothing, reads nothing
        EngineRig rig(EngineRig::Relay::ToPort, relay.port());
        rig.keepEvents();
        rig.controls.keepChunkLines = false;
        const QString answeringName = QStringLiteral("127.0.0.1:%1").arg(answering.port());
        const QString downName = QStringLiteral("127.0.0.1:%1").arg(down);
        const QString stalledName = QStringLiteral("127.0.0.1:%1").arg(stalled.localPort());
        rig.controls.switches.mirrors = {answeringName, downName, stalledName};
        rig.start();
        auto tracker = rig.connectTracker();
        QVERIFY(tracker);
        QVERIFY(sendAndWait(rig, *tracker, flood.first(5)));
        QTRY_COMPARE(answering.received(), qint64(5));
        QTRY_VERIFY(rig.events.constLast().kind == SessionEvent::Kind::Mirror);
        const SessionEvent answer = rig.events.constLast();
        QCOMPARE(answer.port, answering.port());
        QCOMPARE(answer.peer, QStringLiteral("127.0.0.1:%1").arg(tracker->localPort()));
        QCOMPARE(rig.file(answer.file), QByteArray("ok1:hello"));
        QCOMPARE(rig.controls.line(0),
                 QStringLiteral(":  M> (HEXAD):%1\r\n").arg(CaptureFiles::hexRendering("ok1:hello")));
        QCOMPARE(tracker->bytesAvailable(), 0); // never sent to the tracker

        tracker->write(flood.mid(5));
        QTRY_COMPARE_WITH_TIMEOUT(relay.received(), flood.size(), 20000);
        QCOMPARE(relay.firstMismatch(), -1);
        tracker->disconnectFromHost();
        QTRY_VERIFY(rig.controls.log.contains(QStringLiteral("Tracker 127.0.0.1 disconnected.")));
        const QString log = rig.controls.log;
        QVERIFY(
            log.contains(QStringLiteral("Mirror %1 dropped for tracker 127.0.0.1: Connection is forcefully "
                                        "rejected.\r\n")
                             .arg(downName)));
        QVERIFY(
            log.contains(QStringLiteral("Mirror %1 dropped for tracker 127.0.0.1: more than 8 MiB waited for "
                                        "it.\r\n")
                             .arg(stalledName)));
        QVERIFY(log.contains(QStringLiteral("Mirror %1 missed %2 bytes of tracker 127.0.0.1.\r\n")
                                 .arg(downName)
                                 .arg(flood.size())));
        const QRegularExpressionMatch missed =
            QRegularExpression(QStringLiteral("Mirror %1 missed (\\d+) bytes").arg(stalledName)).match(log);
        QVERIFY(missed.hasMatch() && missed.captured(1).toLongLong() > 8 * 1024 * 1024);
        QVERIFY(!log.contains(QStringLiteral("Mirror %1 missed").arg(answeringName)));
        QTRY_COMPARE(answering.received(), flood.size());
        QCOMPARE(answering.firstMismatch(), -1);
        QVERIFY(!rig.engine.hasEnded());
    }

    void slowServerHoldsBackOnlyItsTracker()
    {
        // The server stops reading the first tracker's relay: that tracker is held once its
        // share of the relay's queue is full; the second one goes on, and the first catches up,
        // every byte in order, once the server reads again.
        AnsweringServer out(0, true);
        const QList<QTcpSocket *> &relays = out.sockets;
        EngineRig rig(EngineRig::Relay::ToPort, out.server.serverPort());
        rig.keepEvents();
        rig.controls.keepChunkLines = false;
        rig.controls.switches.maxTrackers = 2;
        rig.start();
        const QByteArray flood = LoopbackSocket::randomBytes(16 * 1024 * 1024, 7);
        std::atomic<qint64> sent{0};
        std::jthread flooding([&](const std::stop_token &stop) {
            LoopbackSocket tracker = LoopbackSocket::connectTo(rig.inPort);
            tracker.sendAll(flood, stop, &sent);
            while (!stop.stop_requested())
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        });
        QTRY_COMPARE(relays.size(), 1);
        QTRY_VERIFY(rig.engine.trackers().rowCount() == 1 && rig.engine.trackers().row(0).bytesIn > 0);
        auto other = rig.connectTracker();
        QVERIFY(other);
        QTRY_COMPARE(relays.size(), 2);
        QByteArray others;
        for (int i = 0; i < 3; ++i) {
            others += "other-" + QByteArray::number(i);
            QVERIFY(sendAndWait(rig, *other, others.right(7)));
            QTRY_COMPARE(out.receivedBy[1], others);
        }
        // Held meanwhile: unheld, it would take the rest of the flood in a few milliseconds.
        QVERIFY(!QTest::qWaitFor([&] { return rig.engine.trackers().row(0).bytesIn == flood.size(); }, 500));
        out.resumeFirst();
        QTRY_COMPARE_WITH_TIMEOUT(out.receivedBy[0].size(), flood.size(), 20000);
        QVERIFY(out.receivedBy[0] == flood);
        flooding.request_stop();
    }

    void decodingPerTracker()
    {
        // Two trackers of two protocols, their chunks interleaved: each session detects and
        // decodes its own, the device of a Teltonika packet is the one its own handshake named,
        // and the lines and rows name their tracker. Teltonika wiki: the handshake and the Codec 8
        // example 1; Traccar Gps103ProtocolDecoderTest: the TK103 report.
        EngineRig rig;
        rig.controls.switches.maxTrackers = 2;
        rig.controls.switches.decode = true;
        rig.start();
        auto teltonika = rig.connectTracker(), tk103 = rig.connectTracker();
        QVERIFY(teltonika && tk103);
        QVERIFY(rig.sendChunk(*teltonika, QByteArray::fromHex("000F333536333037303432343431303133")));
        QVERIFY(rig.sendChunk(*tk103, "imei:359710045559474,tracker,151030080103,,F,000101.000,A,5443.3834,N,"
                                      "02512.9071,E,0.00,0;"));
        QVERIFY(rig.sendChunk(*teltonika, QByteArray::fromHex("000000000000003608010000016B40D8EA30010000000000"
                                                              "000000000000000000000105021503010101425E0F01F10000"
                                                              "601A014E0000000000000000010000C7CF")));
        const QString t = peerOf(*teltonika), k = peerOf(*tk103);
        QTRY_COMPARE(rig.controls.positions.size(), 2);
        QCOMPARE(rig.controls.line(0), u": POS %1: Teltonika 356307042441013 2019-06-10T10:04:46Z invalid "
                                       "0.0000000,0.0000000 alt 0 m 0 km/h 0\u00b0 0 sats priority=1 event=1 "
                                       "io21=3 io1=1 io66=24079 io241=24602 io78=0\r\n"_s.arg(t));
        const QStringList &lines = rig.controls.dataLines;
        QVERIFY(lines.filter(u": POS %1: TK103 359710045559474 2015-10-30T00:01:01Z valid"_s.arg(k)).size() == 1);
        QVERIFY(lines.filter(u": DEC %1: Teltonika 356307042441013 IMEI imei="_s.arg(t)).size() == 1);
        QCOMPARE(rig.controls.positions[0].peer + rig.controls.positions[0].device, k + u"359710045559474"_s);
        QCOMPARE(rig.controls.positions[1].peer + rig.controls.positions[1].device, t + u"356307042441013"_s);
    }

    void floodBesideASlowTracker()
    {
        // A flood must not starve a tracker that sends a few bytes now and then: its chunks are
        // captured in order while the flood goes on. Each slow chunk goes once the one before it
        // (the first: once the flood's first) is captured, from within the engine's turn: Qt's
        // event loop on Windows gives a test's wait back only once no message waits, which a
        // flood never allows.
        EngineRig rig;
        std::unique_ptr<QTcpSocket> slow;
        QString slowPeer;
        QList<QByteArray> sent;
        std::atomic<qint64> flooded{0};
        qint64 floodedAtLast = -1;
        rig.keepEvents([&](const SessionEvent &event) {
            if (event.kind != SessionEvent::Kind::In || floodedAtLast >= 0 ||
                (event.peer == slowPeer) == sent.isEmpty())
                return;
            if (sent.size() == 5) {
                floodedAtLast = flooded;
                return;
            }
            sent.append("slow-" + QByteArray::number(sent.size() + 1));
            slow->write(sent.last());
        });
        rig.controls.keepChunkLines = false;
        rig.controls.switches.maxTrackers = 2;
        rig.start();
        slow = rig.connectTracker();
        QVERIFY(slow);
        slowPeer = peerOf(*slow);
        std::jthread flood([&](const std::stop_token &stop) {
            LoopbackSocket tracker = LoopbackSocket::connectTo(rig.inPort);
            const QByteArray block(1024 * 1024, 'F');
            while (!stop.stop_requested() && flooded < 96 * 1024 * 1024 &&
                   tracker.sendAll(block, stop, &flooded)) {
            }
        });
        QTRY_VERIFY_WITH_TIMEOUT(floodedAtLast >= 0, 10000);
        QCOMPARE(inChunksOf(rig, slowPeer), sent);
        QVERIFY(floodedAtLast < 96 * 1024 * 1024); // the flood was still going
        flood.request_stop();
    }
};

QTEST_GUILESS_MAIN(tst_Fleet)
#include "tst_fleet.moc"
