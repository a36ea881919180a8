// The capture engine end to end on loopback: captures and their numbering, the relay and the
// return path, the operator command, one tracker at a time, and trackers and OUT servers that
// break their connections the ways real deployments do.

#include "capturefolder.h"
#include "datetimetext.h"
#include "enginerig.h"
#include "nativesocket.h"
#include "platformerror.h"
#include "underwine.h"

#include <QRegularExpression>
#include <QtTest>

namespace {

enum class Ending { Close, HalfClose, Reset, Vanish };

// The data pane without timestamps, top line first.
QString paneText(const FakeControls &controls)
{
    QString text;
    for (const QString &line : controls.dataLines)
        text += FakeControls::afterTimestamp(line);
    return text;
}

} // namespace

Q_DECLARE_METATYPE(Ending)

class tst_CaptureEngine final : public QObject
{
    Q_OBJECT

private slots:
    void oneNumberingAcrossTheKindsOfCapture()
    {
        GPSA_SKIP_ON_WINE("closesocket() after SO_LINGER 0 ends the connection in order instead of resetting it");
        // The OUT server speaks first, a second tracker is declined, the tracker's chunk is
        // captured and relayed byte for byte and gives the armed command (here without CR LF)
        // its turn, the server answers, the tracker resets: one numbering, and one event each
        // in the session index, in order.
        EngineRig rig(EngineRig::Relay::ToOwnServer);
        rig.keepEvents();
        rig.controls.values[Control::AutoSend] = CheckValue::Ticked;
        rig.controls.texts[Control::Command] = QStringLiteral("GO");
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
        const QByteArray chunk("$GPRMC,1\r\n\0\x01", 12);
        QVERIFY(rig.sendChunk(*tracker, chunk));
        QByteArray command;
        QTRY_COMPARE((command += tracker->readAll()), QByteArray("GO"));
        QTRY_COMPARE(rig.out->received, chunk);
        rig.out->connection->write("answer");
        QTRY_COMPARE(rig.engine.state().CaptureCounter, 4);
        NativeSocket::resetOnClose(tracker->socketDescriptor());
        tracker->abort();
        QTRY_COMPARE(rig.engine.state().CaptureCounter, 5);

        const QString in = QString::number(rig.inPort), out = QString::number(rig.outPort);
        QCOMPARE(QDir(rig.folder.path()).entryList(QDir::Files, QDir::Name).join(QLatin1Char(' ')),
                 QStringLiteral("x0001_%2.dat x0001_%2.log x0002_%1.dat x0002_%1.log x0003_%2.dat x0003_%2.log "
                                "x0004_err%1.log").arg(in, out));
        QCOMPARE(rig.file(EngineRig::name(1, rig.outPort, "dat")), QByteArray("hi\0", 3));
        QCOMPARE(rig.file(EngineRig::name(2, rig.inPort, "dat")), chunk);
        QCOMPARE(rig.file(EngineRig::name(2, rig.inPort, "log")), QByteArray(" 12 \r\n"));
        QCOMPARE(rig.file(EngineRig::name(3, rig.outPort, "log")), QByteArray(" 6 \r\n"));
        QCOMPARE(rig.controls.dataLines.size(), 8);
        QCOMPARE(paneText(rig.controls).section(QLatin1Char('\n'), 1),
                 QStringLiteral(":  -> (HEXAD):616E73776572\r\n:  -> (ASCII):answer\r\n: OUT (ASCII):GO\r\n"
                                ":  IN (HEXAD):244750524D432C31 D A 0 1\r\n:  IN (ASCII):$GPRMC,1\r\n \x01\r\n"
                                ":  -> (HEXAD):6869 0\r\n:  -> (ASCII):hi \r\n"));
        QCOMPARE(rig.out->received, chunk); // the answers were recorded, not passed on

        const QList<SessionEvent> &e = rig.events;
        QCOMPARE(kinds(e), QStringLiteral("listen out connect declined in cmd out error"));
        QCOMPARE(e.at(0).note, QStringLiteral("relay to 127.0.0.1:%1").arg(out));
        QCOMPARE(e.at(2).peer, QStringLiteral("127.0.0.1:%1").arg(trackerPort));
        QCOMPARE(e.at(2).note, QStringLiteral("local 127.0.0.1:%1").arg(in));
        QVERIFY(e.at(3).peer.startsWith(QStringLiteral("127.0.0.1:")));
        QCOMPARE(e.at(4).number, 2);
        QCOMPARE(e.at(4).file, EngineRig::name(2, rig.inPort, "dat"));
        QCOMPARE(e.at(4).length, 12);
        QCOMPARE(e.at(5).bytes, QByteArray("GO"));
        QCOMPARE(e.at(6).number, 3);
        QCOMPARE(e.at(6).port, int(rig.outPort));
        QCOMPARE(e.at(7).file, QStringLiteral("x0004_err%1.log").arg(in));
        QCOMPARE(e.at(7).note, QStringLiteral("10054 Connection is reset by remote side"));
        for (int i = 1; i < e.size(); ++i)
            QVERIFY(e.at(i).timeUs >= e.at(i - 1).timeUs);
    }

    void operatorCommand_data()
    {
        QTest::addColumn<int>("sendOnConnect");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("onConnect");
        QTest::addColumn<QByteArray>("afterFirstChunk");
        QTest::addColumn<QString>("commandLines"); // top first, after the chunk's or above them

        const QString ascii = QStringLiteral("ASCII"), go = QStringLiteral("GO");
        const QString goLine = QStringLiteral(": OUT (ASCII):GO\r\n");
        QTest::newRow("on connect") << 1 << ascii << go << QByteArray("GO\r\n") << QByteArray() << goLine;
        QTest::newRow("after the first chunk") << 0 << ascii << go << QByteArray() << QByteArray("GO\r\n") << goLine;
        QTest::newRow("send immediate grayed") << 2 << ascii << go << QByteArray() << QByteArray("GO\r\n") << goLine;
        QTest::newRow("hex with illegal elements")
            << 0 << QStringLiteral("HEX") << QStringLiteral("1,002,41, ff") << QByteArray() << QByteArray("A\xFF\r\n")
            << QStringLiteral(": OUT (HEXAD):A\u00FF\r\n: ILLEGAL (HEXAD):002\r\n: ILLEGAL (HEXAD):1\r\n");
    }

    void operatorCommand()
    {
        QFETCH(int, sendOnConnect);
        QFETCH(QString, type);
        QFETCH(QString, text);
        QFETCH(QByteArray, onConnect);
        QFETCH(QByteArray, afterFirstChunk);
        QFETCH(QString, commandLines);
        EngineRig rig;
        rig.controls.values[Control::SendOnConnect] = sendOnConnect;
        rig.controls.values[Control::AutoSend] = CheckValue::Ticked;
        rig.controls.texts[Control::CommandType] = type;
        rig.controls.texts[Control::Command] = text;
        rig.start();
        auto tracker = rig.connectTracker();
        QVERIFY(tracker);
        QTRY_COMPARE(tracker->bytesAvailable(), qint64(onConnect.size()));
        QCOMPARE(tracker->readAll(), onConnect);
        QCOMPARE(rig.controls.value(Control::SendOnConnect), sendOnConnect == 1 ? 0 : sendOnConnect);

        QVERIFY(rig.sendChunk(*tracker, "x"));
        QTRY_COMPARE(tracker->bytesAvailable(), qint64(afterFirstChunk.size()));
        QCOMPARE(tracker->readAll(), afterFirstChunk);
        QCOMPARE(rig.controls.value(Control::AutoSend), 0);
        // The command's lines stand above the chunk's when it went out after the chunk.
        const QString chunkLines = QStringLiteral(":  IN (HEXAD):78\r\n:  IN (ASCII):x\r\n");
        QCOMPARE(paneText(rig.controls), onConnect.isEmpty() ? commandLines + chunkLines : chunkLines + commandLines);

        // Armed for one command only.
        QVERIFY(rig.sendChunk(*tracker, "y"));
        QVERIFY(!tracker->waitForReadyRead(100));
    }

    void commandWaitsForATrackerThatStays()
    {
        // A port scanner or a health check connects and closes at once: nothing is sent, nothing
        // ends, and the command, on connect, goes to the next tracker.
        EngineRig rig;
        rig.controls.values[Control::SendOnConnect] = CheckValue::Ticked;
        rig.controls.values[Control::AutoSend] = CheckValue::Ticked;
        rig.controls.texts[Control::Command] = QStringLiteral("GO");
        rig.start();
        LoopbackSocket::connectTo(rig.inPort).close();
        QTRY_VERIFY(rig.controls.log.contains(QStringLiteral("disconnected.")));
        QVERIFY(!rig.engine.hasEnded());
        QCOMPARE(rig.controls.value(Control::SendOnConnect), CheckValue::Ticked);
        QCOMPARE(rig.controls.value(Control::AutoSend), CheckValue::Ticked);
        QCOMPARE(rig.controls.dataLines, QStringList());

        auto tracker = rig.connectTracker();
        QVERIFY(tracker);
        QByteArray received;
        QTRY_COMPARE((received += tracker->readAll()), QByteArray("GO\r\n"));
        QCOMPARE(rig.controls.value(Control::AutoSend), CheckValue::Clear);
    }

    void trackerLeaves_data()
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

    void trackerLeaves()
    {
        QFETCH(Ending, ending);
        QFETCH(int, errorNumber);
        QFETCH(QString, description);
        if (ending == Ending::Reset)
            GPSA_SKIP_ON_WINE("closesocket() after SO_LINGER 0 ends the connection in order instead of resetting it");
        if (ending == Ending::Vanish && QSysInfo::kernelType() != QStringLiteral("linux"))
            QSKIP("needs a socket filter to drop the peer's segments, which only Linux has");
        EngineRig rig;
        // Short keep-alive timings, taken over by slot 1 when it is loaded: a silent peer is
        // given up after about three seconds.
        rig.engine.setTrackerKeepAlive(KeepAliveTimings{1, 1, 2});
        rig.start();

        LoopbackSocket tracker = LoopbackSocket::connectTo(rig.inPort);
        QVERIFY(tracker.isValid());
        QVERIFY(tracker.sendAll(QByteArray("$GPRMC,first")));
        QTRY_COMPARE(rig.file(EngineRig::name(1, rig.inPort, "dat")), QByteArray("$GPRMC,first"));
        // Last words: every byte sent before the end is captured before the end is handled.
        QVERIFY(tracker.sendAll(QByteArray("$GPRMC,last")));
        if (errorNumber != 0) // a reset or a silence would lose what is still unread
            QTRY_COMPARE(rig.engine.state().CaptureCounter, 3);
        if (ending == Ending::HalfClose)
            tracker.halfClose();
        else if (ending == Ending::Vanish)
            QVERIFY(tracker.ignoreEverything());
        if (ending == Ending::Reset)
            tracker.resetOnClose();
        if (ending == Ending::Close || ending == Ending::Reset)
            tracker.close();
        const QString listening = QStringLiteral("Listening on TCP port %1\r\n").arg(rig.inPort);
        const QString visit = QStringLiteral("Tracker 127.0.0.1 connected.\r\nTracker 127.0.0.1 disconnected.\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(rig.controls.log, listening + visit, 30000);
        QVERIFY(!rig.engine.hasEnded());
        QVERIFY(!rig.engine.state().SlotInUse[1]);
        QCOMPARE(rig.file(EngineRig::name(2, rig.inPort, "dat")), QByteArray("$GPRMC,last"));
        QCOMPARE(rig.controls.dataLines.size(), errorNumber != 0 ? 5 : 4);
        QCOMPARE(rig.engine.state().CaptureCounter, errorNumber != 0 ? 4 : 3);
        if (errorNumber != 0) {
            // The date, a blank and the time, taken apart: the time shows even at midnight.
            const QString date = QRegularExpression::escape(DateTimeText::shortDate(QDate::currentDate()));
            const QRegularExpression line(QRegularExpression::anchoredPattern(
                date + QStringLiteral(" .*\\d.*: Socket ID:1 Status %1: %2\r\n").arg(errorNumber).arg(description)));
            QVERIFY2(line.match(rig.controls.dataLines.first()).hasMatch(), qPrintable(rig.controls.dataLines.first()));
            QCOMPARE(rig.file(QStringLiteral("x0003_err%1.log").arg(rig.inPort)), description.toLatin1() + "\r\n");
        }
        if (ending == Ending::HalfClose)
            QVERIFY(tracker.seesEnd(10000)); // the engine ends its side too
        tracker.close();

        // The slot is free again: the next tracker is served.
        auto next = rig.connectTracker();
        QVERIFY(next);
        QVERIFY(rig.sendChunk(*next, "next tracker"));
        QCOMPARE(rig.controls.log, listening + visit + QStringLiteral("Tracker 127.0.0.1 connected.\r\n"));
        QCOMPARE(CaptureFolder(rig.folder.path()).problem(), QString());
        QCOMPARE(rig.controls.reports.size(), 0);
    }

    void failedRelayEndsAfterTheCapture_data()
    {
        QTest::addColumn<bool>("serverUp"); // else nothing listens at the OUT port
        QTest::newRow("OUT server refuses") << false;
        QTest::newRow("OUT server closes mid-run") << true;
    }

    void failedRelayEndsAfterTheCapture()
    {
        QFETCH(bool, serverUp);
        EngineRig rig(serverUp ? EngineRig::Relay::ToOwnServer : EngineRig::Relay::ToPort,
                      LoopbackSocket::freePort());
        rig.controls.values[Control::AutoSend] = CheckValue::Ticked;
        rig.controls.texts[Control::Command] = QStringLiteral("BYE");
        rig.start();
        auto tracker = rig.connectTracker();
        QVERIFY(tracker);
        if (serverUp) {
            QVERIFY(rig.sendChunk(*tracker, "one"));
            QTRY_COMPARE(rig.out->received, QByteArray("one"));
            rig.out->connection->disconnectFromHost();
        }
        const qint32 failing = serverUp ? 2 : 1;
        // While the message shows, the tracker's next bytes are left alone.
        rig.controls.whileMessageShows = [&] {
            tracker->write("more");
            QTest::qWait(100);
        };
        QTRY_VERIFY(rig.engine.relayState() != SocketEndpoint::State::Connecting &&
                    rig.engine.relayState() != SocketEndpoint::State::Connected);
        QVERIFY(rig.sendChunk(*tracker, "chunk"));

        // Captured in full, then the relay's report, and the end.
        QCOMPARE(rig.file(EngineRig::name(failing, rig.inPort, "dat")), QByteArray("chunk"));
        QCOMPARE(rig.controls.messages.size(), 1);
        QCOMPARE(rig.controls.messages.first().title, QStringLiteral("Error sending to output socket!"));
        QCOMPARE(rig.controls.messages.first().prompt,
                 QStringLiteral("Wrong protocol or connection state for the requested transaction or request"));
        QCOMPARE(rig.controls.messages.first().style, 16);
        QCOMPARE(rig.controls.endRequests, 1);
        QVERIFY(rig.engine.hasEnded());
        // The command armed before the failed relay still went out.
        QByteArray toTracker;
        QTRY_COMPARE((toTracker += tracker->readAll()), QByteArray("BYE\r\n"));
        if (serverUp)
            QCOMPARE(rig.out->received, QByteArray("one"));

        QCOMPARE(rig.engine.state().CaptureCounter, failing + 1);
    }
};

QTEST_GUILESS_MAIN(tst_CaptureEngine)
#include "tst_captureengine.moc"
