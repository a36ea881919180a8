// The capture engine end to end on loopback: captures and their numbering, the relay and the
// return path, the operator command, one tracker at a time, and trackers and OUT servers that
// break their connections the ways real deployments do.

#include "capturefiles.h"
#include "capturefolder.h"
#include "endpointarray.h"
#include "datetimetext.h"
#include "enginerig.h"
#include "platformerror.h"
#include "socketendpoint.h"

#include <QRegularExpression>
#include <QtTest>

#include <sys/socket.h>

namespace {

enum class Ending { Close, HalfClose, Reset, Vanish };

const QString WrongState = QStringLiteral("Wrong protocol or connection state for the requested transaction or request");

} // namespace

Q_DECLARE_METATYPE(Ending)

class tst_CaptureEngine final : public QObject
{
    Q_OBJECT

private slots:
    void chunkIsCapturedAndRelayedExactly_data();
    void chunkIsCapturedAndRelayedExactly();
    void oneNumberingAcrossTheKindsOfCapture();
    void operatorCommand_data();
    void operatorCommand();
    void commandWaitsForATrackerThatStays();
    void trackerLeaves_data();
    void trackerLeaves();
    void failedRelayEndsAfterTheCapture_data();
    void failedRelayEndsAfterTheCapture();
};

void tst_CaptureEngine::chunkIsCapturedAndRelayedExactly_data()
{
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("ascii");
    QTest::newRow("NMEA sentence") << QByteArray("$GPRMC,1\r\n") << QStringLiteral("244750524D432C31 D A")
                                   << QStringLiteral("$GPRMC,1\r\n");
    QTest::newRow("NUL bytes") << QByteArray("\x00\x01\x00", 3) << QStringLiteral(" 0 1 0") << QStringLiteral(" \x01 ");
}

void tst_CaptureEngine::chunkIsCapturedAndRelayedExactly()
{
    QFETCH(QByteArray, chunk);
    QFETCH(QString, hex);
    QFETCH(QString, ascii);
    EngineRig rig(EngineRig::Relay::ToOwnServer);
    rig.start();
    auto tracker = rig.connectTracker();
    QVERIFY(tracker);
    QVERIFY(rig.sendChunk(*tracker, chunk));

    const QString data = EngineRig::name(1, rig.inPort, "dat");
    const QString log = EngineRig::name(1, rig.inPort, "log");
    QCOMPARE(rig.files(), (QStringList{data, log}));
    QCOMPARE(rig.file(data), chunk);
    QCOMPARE(rig.file(log), ' ' + QByteArray::number(chunk.size()) + " \r\n");
    QCOMPARE(rig.controls.dataLines.size(), 2);
    QCOMPARE(rig.controls.line(0), QStringLiteral(":  IN (HEXAD):") + hex + QStringLiteral("\r\n"));
    QCOMPARE(rig.controls.line(1), QStringLiteral(":  IN (ASCII):") + ascii + QStringLiteral("\r\n"));
    QTRY_COMPARE(rig.out->received, chunk);
    QCOMPARE(tracker->readAll(), QByteArray());
}

void tst_CaptureEngine::oneNumberingAcrossTheKindsOfCapture()
{
    // The OUT server speaks first, a second tracker is declined, the tracker's chunk gives the
    // armed command (here without CR LF) its turn, the server answers, the tracker resets:
    // one numbering, and one event each in the session index, in order.
    EngineRig rig(EngineRig::Relay::ToOwnServer);
    rig.keepEvents();
    rig.controls.values[Control::Check2] = CheckValue::Ticked;
    rig.controls.texts[Control::Text4] = QStringLiteral("GO");
    rig.controls.switches.appendCrLf = false;
    rig.start();
    QTRY_VERIFY(rig.out->connection);
    rig.out->connection->write(QByteArray("hi\0", 3));
    QTRY_COMPARE(rig.engine.state().CaptureCounter, 2);
    auto tracker = rig.connectTracker();
    QVERIFY(tracker);
    const quint16 trackerPort = tracker->localPort();
    QTcpSocket second;
    QSignalSpy declined(&second, &QTcpSocket::disconnected);
    second.connectToHost(QHostAddress::LocalHost, rig.inPort);
    QTRY_COMPARE(declined.size(), 1);
    QVERIFY(rig.sendChunk(*tracker, "A"));
    QByteArray command;
    QTRY_COMPARE((command += tracker->readAll()), QByteArray("GO"));
    QTRY_COMPARE(rig.out->received, QByteArray("A"));
    rig.out->connection->write("answer");
    QTRY_COMPARE(rig.engine.state().CaptureCounter, 4);
    const linger abortive{1, 0};
    ::setsockopt(int(tracker->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    tracker->abort();
    QTRY_COMPARE(rig.engine.state().CaptureCounter, 5);

    const QString in = QString::number(rig.inPort), out = QString::number(rig.outPort);
    QCOMPARE(rig.files().join(QLatin1Char(' ')),
             QStringLiteral("x0001_%2.dat x0001_%2.log x0002_%1.dat x0002_%1.log x0003_%2.dat x0003_%2.log "
                            "x0004_err%1.log").arg(in, out));
    QCOMPARE(rig.file(EngineRig::name(1, rig.outPort, "dat")), QByteArray("hi\0", 3));
    QCOMPARE(rig.file(EngineRig::name(3, rig.outPort, "log")), QByteArray(" 6 \r\n"));
    const QStringList expected{QStringLiteral(":  -> (HEXAD):616E73776572\r\n"), QStringLiteral(":  -> (ASCII):answer\r\n"),
                               QStringLiteral(": OUT (ASCII):GO\r\n"),         QStringLiteral(":  IN (HEXAD):41\r\n"),
                               QStringLiteral(":  IN (ASCII):A\r\n"),          QStringLiteral(":  -> (HEXAD):6869 0\r\n"),
                               QStringLiteral(":  -> (ASCII):hi \r\n")};
    QVERIFY(rig.controls.line(0).startsWith(QStringLiteral(": Socket ID:1 Status 10054: ")));
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(rig.controls.line(i + 1), expected.at(i));
    QCOMPARE(rig.out->received, QByteArray("A")); // the answers were recorded, not passed on

    const QList<SessionEvent> &e = rig.events;
    QCOMPARE(kinds(e), QStringLiteral("listen out connect declined in cmd out error"));
    QCOMPARE(e.at(0).note, QStringLiteral("relay to 127.0.0.1:%1").arg(out));
    QCOMPARE(e.at(2).peer, QStringLiteral("127.0.0.1:%1").arg(trackerPort));
    QCOMPARE(e.at(2).note, QStringLiteral("local 127.0.0.1:%1").arg(in));
    QVERIFY(e.at(3).peer.startsWith(QStringLiteral("127.0.0.1:")));
    QCOMPARE(e.at(4).number, 2);
    QCOMPARE(e.at(4).file, EngineRig::name(2, rig.inPort, "dat"));
    QCOMPARE(e.at(4).length, 1);
    QCOMPARE(e.at(5).bytes, QByteArray("GO"));
    QCOMPARE(e.at(6).number, 3);
    QCOMPARE(e.at(6).port, int(rig.outPort));
    QCOMPARE(e.at(7).file, QStringLiteral("x0004_err%1.log").arg(in));
    QCOMPARE(e.at(7).note, QStringLiteral("10054 Connection is reset by remote side"));
    for (int i = 1; i < e.size(); ++i)
        QVERIFY(e.at(i).timeUs >= e.at(i - 1).timeUs);
}

void tst_CaptureEngine::operatorCommand_data()
{
    QTest::addColumn<int>("check1");
    QTest::addColumn<int>("check2");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("onConnect");
    QTest::addColumn<QByteArray>("afterFirstChunk");
    QTest::addColumn<QStringList>("commandLines"); // top first, after the chunk's or above them

    const QString ascii = QStringLiteral("ASCII");
    const QStringList goLine{QStringLiteral(": OUT (ASCII):GO\r\n")};
    QTest::newRow("on connect") << 1 << 1 << ascii << QStringLiteral("GO") << QByteArray("GO\r\n") << QByteArray()
                                << goLine;
    QTest::newRow("send immediate without a command")
        << 1 << 0 << ascii << QStringLiteral("GO") << QByteArray() << QByteArray() << QStringList();
    QTest::newRow("after the first chunk") << 0 << 1 << ascii << QStringLiteral("GO") << QByteArray()
                                           << QByteArray("GO\r\n") << goLine;
    QTest::newRow("send immediate grayed") << 2 << 1 << ascii << QStringLiteral("GO") << QByteArray()
                                           << QByteArray("GO\r\n") << goLine;
    QTest::newRow("hex with illegal elements")
        << 0 << 1 << QStringLiteral("HEX") << QStringLiteral("1,002,41, ff") << QByteArray()
        << QByteArray("A\xFF\r\n")
        << QStringList{QStringLiteral(": OUT (HEXAD):A\u00FF\r\n"), QStringLiteral(": ILLEGAL (HEXAD):002\r\n"),
                       QStringLiteral(": ILLEGAL (HEXAD):1\r\n")};
}

void tst_CaptureEngine::operatorCommand()
{
    QFETCH(int, check1);
    QFETCH(int, check2);
    QFETCH(QString, type);
    QFETCH(QString, text);
    QFETCH(QByteArray, onConnect);
    QFETCH(QByteArray, afterFirstChunk);
    QFETCH(QStringList, commandLines);
    EngineRig rig;
    rig.controls.values[Control::Check1] = check1;
    rig.controls.values[Control::Check2] = check2;
    rig.controls.texts[Control::Combo1] = type;
    rig.controls.texts[Control::Text4] = text;
    rig.start();
    auto tracker = rig.connectTracker();
    QVERIFY(tracker);
    QTRY_COMPARE(tracker->bytesAvailable(), qint64(onConnect.size()));
    QCOMPARE(tracker->readAll(), onConnect);
    QCOMPARE(rig.controls.value(Control::Check1), check1 == 1 ? 0 : check1);

    QVERIFY(rig.sendChunk(*tracker, "x"));
    QTRY_COMPARE(tracker->bytesAvailable(), qint64(afterFirstChunk.size()));
    QCOMPARE(tracker->readAll(), afterFirstChunk);
    QCOMPARE(rig.controls.value(Control::Check2), 0);
    // The command's lines stand above the chunk's when it went out after the chunk.
    QStringList chunkLines{QStringLiteral(":  IN (HEXAD):78\r\n"), QStringLiteral(":  IN (ASCII):x\r\n")};
    const QStringList expected = onConnect.isEmpty() ? commandLines + chunkLines : chunkLines + commandLines;
    for (int i = 0; i < expected.size(); ++i)
        QCOMPARE(rig.controls.line(i), expected.at(i));
    QCOMPARE(rig.controls.dataLines.size(), expected.size());

    // Armed for one command only.
    QVERIFY(rig.sendChunk(*tracker, "y"));
    QVERIFY(!tracker->waitForReadyRead(100));
}

void tst_CaptureEngine::commandWaitsForATrackerThatStays()
{
    // A port scanner or a health check connects and closes at once: nothing is sent, nothing
    // ends, and the command, on connect, goes to the next tracker.
    EngineRig rig;
    rig.controls.values[Control::Check1] = CheckValue::Ticked;
    rig.controls.values[Control::Check2] = CheckValue::Ticked;
    rig.controls.texts[Control::Text4] = QStringLiteral("GO");
    rig.start();
    LoopbackSocket::connectTo(rig.inPort).close();
    QTRY_VERIFY(rig.controls.log.contains(QStringLiteral("disconnected.")));
    QVERIFY(!rig.engine.hasEnded());
    QCOMPARE(rig.controls.reports.size(), 0);
    QCOMPARE(rig.controls.value(Control::Check1), CheckValue::Ticked);
    QCOMPARE(rig.controls.value(Control::Check2), CheckValue::Ticked);
    QCOMPARE(rig.controls.dataLines, QStringList());

    auto tracker = rig.connectTracker();
    QVERIFY(tracker);
    QByteArray received;
    QTRY_COMPARE((received += tracker->readAll()), QByteArray("GO\r\n"));
    QCOMPARE(rig.controls.value(Control::Check2), CheckValue::Clear);
}

void tst_CaptureEngine::trackerLeaves_data()
{
    QTest::addColumn<Ending>("ending");
    QTest::addColumn<int>("errorNumber"); // 0: an orderly end, no error
    QTest::addColumn<QString>("description");
    QTest::newRow("close") << Ending::Close << 0 << QString();
    QTest::newRow("half-close") << Ending::HalfClose << 0 << QString();
    QTest::newRow("reset") << Ending::Reset << int(ErrorNumber::ConnectionReset)
                           << QStringLiteral("Connection is reset by remote side");
    QTest::newRow("vanishes without a word")
        << Ending::Vanish << int(ErrorNumber::TimedOut) << QStringLiteral("Connection timed out");
}

void tst_CaptureEngine::trackerLeaves()
{
    QFETCH(Ending, ending);
    QFETCH(int, errorNumber);
    QFETCH(QString, description);
    EngineRig rig;
    // Short keep-alive timings, taken over by slot 1 when it is loaded: a silent peer is
    // given up after about three seconds.
    rig.engine.sckAcceptArray()(0).setKeepAlive(KeepAliveTimings{1, 1, 2});
    rig.start();

    LoopbackSocket tracker = LoopbackSocket::connectTo(rig.inPort);
    QVERIFY(tracker.isValid());
    QVERIFY(tracker.sendAll(QByteArray("$GPRMC,first")));
    QTRY_COMPARE(rig.file(EngineRig::name(1, rig.inPort, "dat")), QByteArray("$GPRMC,first"));
    // Last words: every byte sent before the end is captured before the end is handled.
    QVERIFY(tracker.sendAll(QByteArray("$GPRMC,last")));
    switch (ending) {
    case Ending::Close:
        tracker.close();
        break;
    case Ending::HalfClose:
        tracker.halfClose();
        break;
    case Ending::Reset:
        QTRY_COMPARE(rig.engine.state().CaptureCounter, 3);
        tracker.resetOnClose();
        tracker.close();
        break;
    case Ending::Vanish:
        QTRY_COMPARE(rig.engine.state().CaptureCounter, 3);
        QVERIFY(tracker.ignoreEverything());
        break;
    }
    const QString listening = QStringLiteral("Listening on TCP port %1\r\n").arg(rig.inPort);
    const QString visit = QStringLiteral("Tracker 127.0.0.1 connected.\r\nTracker 127.0.0.1 disconnected.\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(rig.controls.log, listening + visit, 30000);
    QVERIFY(!rig.engine.hasEnded());
    QVERIFY(!rig.engine.state().SlotInUse[1]);
    QCOMPARE(rig.file(EngineRig::name(2, rig.inPort, "dat")), QByteArray("$GPRMC,last"));

    if (errorNumber != 0) {
        QCOMPARE(rig.controls.dataLines.size(), 5);
        const QString top = rig.controls.dataLines.first();
        // The date, a blank and the time, taken apart: the time shows even at midnight.
        const QString date = DateTimeText::shortDate(QDate::currentDate());
        const QString rest = QStringLiteral(": Socket ID:1 Status %1: %2\r\n").arg(errorNumber).arg(description);
        QVERIFY2(top.startsWith(date + QLatin1Char(' ')) && top.endsWith(rest), qPrintable(top));
        QVERIFY(top.mid(date.size(), top.size() - date.size() - rest.size()).contains(QRegularExpression(QStringLiteral("\\d"))));
        QCOMPARE(rig.file(QStringLiteral("x0003_err%1.log").arg(rig.inPort)), description.toLatin1() + "\r\n");
        QCOMPARE(rig.engine.state().CaptureCounter, 4);
    } else {
        QCOMPARE(rig.controls.dataLines.size(), 4);
        QCOMPARE(rig.engine.state().CaptureCounter, 3);
        if (ending == Ending::HalfClose)
            QVERIFY(tracker.seesEnd(10000)); // the engine ends its side too
    }
    tracker.close();

    // The slot is free again: the next tracker is served.
    auto next = rig.connectTracker();
    QVERIFY(next);
    QVERIFY(rig.sendChunk(*next, "next tracker"));
    QCOMPARE(rig.controls.log, listening + visit + QStringLiteral("Tracker 127.0.0.1 connected.\r\n"));
    const CaptureFolder folder(rig.folder.path());
    QCOMPARE(folder.sequenceProblem(), QString());
    QCOMPARE(folder.lengthLogProblem(), QString());
    QCOMPARE(rig.controls.reports.size(), 0);
}

void tst_CaptureEngine::failedRelayEndsAfterTheCapture_data()
{
    QTest::addColumn<bool>("serverUp"); // else nothing listens at the OUT port
    QTest::newRow("OUT server refuses") << false;
    QTest::newRow("OUT server closes mid-run") << true;
}

void tst_CaptureEngine::failedRelayEndsAfterTheCapture()
{
    QFETCH(bool, serverUp);
    EngineRig rig(serverUp ? EngineRig::Relay::ToOwnServer : EngineRig::Relay::ToPort, LoopbackSocket::freePort());
    rig.controls.values[Control::Check2] = CheckValue::Ticked;
    rig.controls.texts[Control::Text4] = QStringLiteral("BYE");
    rig.start();
    auto tracker = rig.connectTracker();
    QVERIFY(tracker);
    qint32 failing = 1;
    if (serverUp) {
        QVERIFY(rig.sendChunk(*tracker, "one"));
        QTRY_COMPARE(rig.out->received, QByteArray("one"));
        rig.out->connection->disconnectFromHost();
        failing = 2;
    }
    QTRY_VERIFY(rig.engine.sckOUT().state() != SocketEndpoint::State::Connecting &&
                rig.engine.sckOUT().state() != SocketEndpoint::State::Connected);
    QVERIFY(rig.sendChunk(*tracker, "chunk"));

    // Captured in full, then the relay's report, and the end.
    QCOMPARE(rig.file(EngineRig::name(failing, rig.inPort, "dat")), QByteArray("chunk"));
    QCOMPARE(rig.controls.messages.size(), 1);
    QCOMPARE(rig.controls.messages.first().title, QStringLiteral("Error sending to output socket!"));
    QCOMPARE(rig.controls.messages.first().prompt, WrongState);
    QCOMPARE(rig.controls.messages.first().style, 16);
    QCOMPARE(rig.controls.endRequests, 1);
    QVERIFY(rig.engine.hasEnded());
    // The command armed before the failed relay still went out.
    QByteArray toTracker;
    QTRY_COMPARE((toTracker += tracker->readAll()), QByteArray("BYE\r\n"));
    if (serverUp)
        QCOMPARE(rig.out->received, QByteArray("one"));

    // Nothing is handled after the end.
    tracker->write("more");
    QTest::qWait(100);
    QCOMPARE(rig.engine.state().CaptureCounter, failing + 1);
}

QTEST_GUILESS_MAIN(tst_CaptureEngine)
#include "tst_captureengine.moc"
