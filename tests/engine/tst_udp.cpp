// Trackers over UDP: datagrams captured as chunks, each sender a tracker of its own, answered,
// relayed over UDP with the server's answers passed back to the right sender, a server that is
// not there, the idle time, a burst with nothing lost, and the port that cannot be bound.

#include "capturefiles.h"
#include "enginerig.h"
#include "underwine.h"

#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtTest>

namespace {

const auto hex = &QByteArray::fromHex;

// Teltonika wiki, "Teltonika Data Sending Protocols", Codec 8 over UDP, and its answer.
const QByteArray TeltonikaUdp = hex("003DCAFE0105000F33353230393330383634303336353508010000016B4F815B3001"
                                    "0000000000000000000000000000000103021503010101425DBC000001");
// Traccar Gl200TextProtocolDecoderTest: a Queclink report, which the @Track document's SACK answers.
const QByteArray QueclinkFri = "+RESP:GTFRI,DF0200,868487004353181,cv100,14051,10,1,0,0.0,0,264.1,114.015515,"
                               "22.537178,20210608064328,0460,0001,25F8,061A7D02,,0.0,,,,100,21,,,,"
                               "20210608144354,32DB$";

// A sender bound to 127.0.0.1, whose datagrams and answers the test reads.
struct Sender
{
    Sender() { socket.bind(QHostAddress::LocalHost, 0); }
    [[nodiscard]] QString peer() const { return QStringLiteral("127.0.0.1:%1").arg(socket.localPort()); }
    void send(const QByteArray &bytes, quint16 port) { socket.writeDatagram(bytes, QHostAddress::LocalHost, port); }
    // The next datagram that reaches it, or "<none>".
    QByteArray answer()
    {
        if (!QTest::qWaitFor([&] { return socket.hasPendingDatagrams(); }, 5000))
            return "<none>";
        return socket.receiveDatagram().data();
    }
    QUdpSocket socket;
};

// Waits until `count` datagrams have been captured.
bool captured(EngineRig &rig, qint32 count)
{
    const qint32 until = rig.engine.state().CaptureCounter + count;
    return QTest::qWaitFor([&] { return rig.engine.state().CaptureCounter >= until; }, 10000);
}

} // namespace

class tst_Udp final : public QObject
{
    Q_OBJECT

private slots:
    void capturesAndAnswersDatagrams_data();
    void capturesAndAnswersDatagrams();
    void relaysEachSenderOverItsOwnSocket();
    void serverThatIsNotThere();
    void commandGoesToTheSenderOfTheNextDatagram();
    void forgetsQuietSendersAndKeepsTcp();
    void burstLosesNothing();
    void portThatCannotBeBound();
};

void tst_Udp::capturesAndAnswersDatagrams_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("note");

    QTest::newRow("empty") << QByteArray() << QByteArray() << QStringLiteral("udp");
    QTest::newRow("largest") << QByteArray(65507, 'x') << QByteArray()
                             << QStringLiteral("udp; resynchronised: 16384 bytes skipped; no known protocol found: "
                                               "framing stopped");
    QTest::newRow("Teltonika wiki") << TeltonikaUdp << hex("0005CAFE010501")
                                    << QStringLiteral("udp; Teltonika AVL 1 record");
    QTest::newRow("Queclink report") << QueclinkFri << QByteArray("+SACK:32DB$")
                                     << QStringLiteral("udp; Queclink location (GTFRI)");
}

void tst_Udp::capturesAndAnswersDatagrams()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QByteArray, answer);
    QFETCH(QString, note);

    EngineRig rig;
    rig.keepEvents();
    rig.controls.switches.udp = true;
    rig.controls.switches.acknowledge = true;
    rig.start();
    QCOMPARE(rig.engine.udpPort(), int(rig.inPort));
    Sender tracker;
    tracker.send(datagram, rig.inPort);
    QVERIFY(captured(rig, 1));

    QCOMPARE(rig.file(EngineRig::name(1, rig.inPort, "dat")), datagram);
    QCOMPARE(rig.file(EngineRig::name(1, rig.inPort, "log")), CaptureFiles::lengthLine(datagram.size()));
    QVERIFY(rig.controls.log.contains(QStringLiteral("Tracker %1 sends over UDP.\r\n").arg(tracker.peer())));
    QCOMPARE(rig.controls.dataLines.filter(QStringLiteral(":  IN %1 (HEXAD):").arg(tracker.peer())).size(), 1);
    if (!answer.isEmpty())
        QCOMPARE(tracker.answer(), answer);
    QTRY_VERIFY(rig.events.size() >= 3);
    QCOMPARE(kinds(rig.events).section(QLatin1Char(' '), 0, 2), QStringLiteral("listen udp-peer in"));
    QCOMPARE(rig.events[2].peer, tracker.peer());
    QCOMPARE(rig.events[2].note, note);
}

void tst_Udp::relaysEachSenderOverItsOwnSocket()
{
    // A server that answers each datagram with "ok:" and the datagram, to whoever sent it.
    QUdpSocket server;
    QVERIFY(server.bind(QHostAddress::LocalHost, 0));
    QSet<quint16> sources;
    connect(&server, &QUdpSocket::readyRead, &server, [&] {
        while (server.hasPendingDatagrams()) {
            const QNetworkDatagram d = server.receiveDatagram();
            sources.insert(quint16(d.senderPort()));
            server.writeDatagram("ok:" + d.data(), d.senderAddress(), quint16(d.senderPort()));
        }
    });
    EngineRig rig(EngineRig::Relay::ToPort, server.localPort());
    rig.keepEvents();
    rig.controls.switches.udp = true;
    rig.controls.switches.passAnswers = true;
    rig.start();
    Sender trackers[3];
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 3; ++i)
            trackers[i].send("T" + QByteArray::number(i) + "-" + QByteArray::number(round), rig.inPort);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(trackers[i].answer(), "ok:T" + QByteArray::number(i) + "-" + QByteArray::number(round));
    }
    QCOMPARE(sources.size(), 3); // one source per tracker, kept from one datagram to the next
    // Each answer is captured under the OUT port as its tracker's, then passed on.
    QTRY_COMPARE(rig.events.count(), 1 + 3 + 6 * 3);
    for (const SessionEvent &event : std::as_const(rig.events)) {
        if (event.kind != SessionEvent::Kind::Out)
            continue;
        QCOMPARE(event.port, int(server.localPort()));
        const auto own = std::find_if(std::begin(trackers), std::end(trackers),
                                      [&](const Sender &t) { return t.peer() == event.peer; });
        QVERIFY(rig.file(event.file).startsWith("ok:T" + QByteArray::number(own - std::begin(trackers)) + '-'));
        QVERIFY(event.note.startsWith(QStringLiteral("udp from 127.0.0.1:%1 local ").arg(server.localPort())));
    }
}

void tst_Udp::serverThatIsNotThere()
{
    // Windows makes the socket readable and fails the next recv() with WSAECONNRESET (Microsoft
    // KB 263823, SIO_UDP_CONNRESET on, as Qt sets it); Wine keeps the error in SO_ERROR alone.
    GPSA_SKIP_ON_WINE("a connected UDP socket that got ICMP port unreachable neither turns readable nor "
                      "fails recv() with WSAECONNRESET");
    QUdpSocket closed;
    QVERIFY(closed.bind(QHostAddress::LocalHost, 0));
    const quint16 port = closed.localPort();
    closed.close(); // nothing listens there: the system answers with ICMP port unreachable
    EngineRig rig(EngineRig::Relay::ToPort, port);
    rig.controls.switches.udp = true;
    rig.start();
    Sender one, two;
    for (int i = 0; i < 3; ++i) {
        one.send("one", rig.inPort);
        QVERIFY(captured(rig, 1));
        two.send("two", rig.inPort);
        QVERIFY(captured(rig, 1));
    }
    QCOMPARE(rig.engine.hasEnded(), false);
    QCOMPARE(rig.controls.endRequests, 0);
    for (const Sender *sender : {&one, &two})
        QCOMPARE(rig.controls.log.count(QStringLiteral("OUT datagrams of tracker %1 to 127.0.0.1:%2: Connection is "
                                                       "forcefully rejected.\r\n")
                                            .arg(sender->peer())
                                            .arg(port)),
                 1);
}

void tst_Udp::commandGoesToTheSenderOfTheNextDatagram()
{
    EngineRig rig;
    rig.keepEvents();
    rig.controls.switches.udp = true;
    rig.start();
    Sender first, second;
    first.send("one", rig.inPort);
    QVERIFY(captured(rig, 1));
    rig.controls.texts[Control::CommandType] = QStringLiteral("ASCII");
    rig.controls.texts[Control::Command] = QStringLiteral("GO");
    rig.controls.values[Control::AutoSend] = CheckValue::Ticked; // armed now: the next sender has it
    second.send("two", rig.inPort);
    QCOMPARE(second.answer(), QByteArray("GO\r\n"));
    first.send("three", rig.inPort);
    QVERIFY(captured(rig, 1));
    QCOMPARE(first.socket.hasPendingDatagrams(), false); // once, as for a TCP tracker
    QCOMPARE(rig.controls.values[Control::AutoSend], int(CheckValue::Clear));
    QTRY_COMPARE(kinds(rig.events), QStringLiteral("listen udp-peer in udp-peer in cmd in"));
    QCOMPARE(rig.events[5].peer, second.peer());
    QCOMPARE(rig.events[5].note, QStringLiteral("udp"));
}

void tst_Udp::forgetsQuietSendersAndKeepsTcp()
{
    EngineRig rig;
    rig.keepEvents();
    rig.controls.switches.udp = true;
    rig.controls.switches.udpIdleSeconds = 1;
    rig.start();
    // A TCP tracker and a UDP one at once, in one numbering.
    const auto tcp = rig.connectTracker();
    QVERIFY(tcp);
    QVERIFY(rig.sendChunk(*tcp, "tcp"));
    Sender udp;
    udp.send("udp", rig.inPort);
    QVERIFY(captured(rig, 1));
    QCOMPARE(rig.file(EngineRig::name(1, rig.inPort, "dat")), QByteArray("tcp"));
    QCOMPARE(rig.file(EngineRig::name(2, rig.inPort, "dat")), QByteArray("udp"));
    const QString quiet = QStringLiteral("Tracker %1 over UDP went quiet.\r\n").arg(udp.peer());
    QTRY_VERIFY_WITH_TIMEOUT(rig.controls.log.contains(quiet), 5000);
    QCOMPARE(kinds(rig.events), QStringLiteral("listen connect in udp-peer in udp-quiet"));
    // Once forgotten, the same sender is new again.
    udp.send("again", rig.inPort);
    QVERIFY(captured(rig, 1));
    QCOMPARE(rig.controls.log.count(QStringLiteral("Tracker %1 sends over UDP.").arg(udp.peer())), 2);
}

void tst_Udp::burstLosesNothing()
{
    EngineRig rig;
    rig.controls.switches.udp = true;
    rig.controls.keepChunkLines = false;
    rig.start();
    // Sent without a turn of the event loop: the whole burst waits in the receive buffer. Under
    // Wine, where making a file slows with the files already in the folder (10,000 datagrams take
    // 75 s, 1,000 two), a thousand: still four times what the Linux socket beneath holds by
    // default (212,992 bytes at 832 a datagram).
    const int Burst = runsUnderWine() ? 1000 : 10000;
    Sender tracker;
    int sent = 0;
    for (int i = 0; i < Burst; ++i)
        sent += tracker.socket.writeDatagram(QByteArray(100, char(i)), QHostAddress::LocalHost, rig.inPort) == 100;
    QCOMPARE(sent, Burst);
    QVERIFY2(captured(rig, Burst), qPrintable(QStringLiteral("%1 of %2 captured with a receive buffer of %3 bytes")
                                                  .arg(rig.engine.state().CaptureCounter - 1)
                                                  .arg(Burst)
                                                  .arg(rig.engine.udpReceiveBuffer())));
}

void tst_Udp::portThatCannotBeBound()
{
    EngineRig rig;
    QUdpSocket taken;
    QVERIFY(taken.bind(QHostAddress::Any, rig.inPort));
    {
        // Off by default: nothing binds UDP, and the port taken for UDP is no matter.
        EngineRig tcpOnly;
        tcpOnly.controls.texts[Control::InPort] = QString::number(rig.inPort);
        tcpOnly.start();
        QVERIFY(tcpOnly.controls.messages.isEmpty());
        QCOMPARE(tcpOnly.engine.udpPort(), 0);
    }
    rig.controls.switches.udp = true;
    rig.start();
    QCOMPARE(rig.controls.messages.size(), 1);
    QCOMPARE(rig.controls.messages[0].prompt, QStringLiteral("Address in use"));
    QCOMPARE(rig.controls.messages[0].title, QStringLiteral("Error on input socket!"));
    QCOMPARE(rig.controls.endRequests, 1);
}

QTEST_GUILESS_MAIN(tst_Udp)
#include "tst_udp.moc"
