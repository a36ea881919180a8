#include "captureengine.h"
#include "capturefiles.h"
#include "datetimetext.h"
#include "fakecontrols.h"
#include "platformerror.h"
#include "socketendpoint.h"
#include "testpeers.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/socket.h>

#include <memory>

namespace {

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// A started engine with a fake OUT server when relaying, and trackers on loopback.
struct Rig
{
    explicit Rig(bool relay, bool outServerUp = true)
    {
        inPort = freeLoopbackPort();
        controls.texts[Control::Text2] = QString::number(inPort);
        if (relay) {
            out = std::make_unique<FakeOutServer>();
            outPort = outServerUp ? out->port() : freeLoopbackPort();
            if (!outServerUp)
                out->server.close();
            controls.texts[Control::Text5] = QString::number(outPort);
            controls.values[Control::Check3] = CheckValue::Ticked;
        }
        engine.Form_Load();
        engine.Command1_Click();
    }

    // Connects a tracker and waits until the engine has logged it.
    std::unique_ptr<QTcpSocket> connectTracker()
    {
        const int before = controls.log.count(QStringLiteral(" connected.\r\n"));
        auto tracker = std::make_unique<QTcpSocket>();
        tracker->connectToHost(QHostAddress::LocalHost, inPort);
        if (!tracker->waitForConnected(5000))
            return nullptr;
        QDeadlineTimer deadline(10000);
        while (controls.log.count(QStringLiteral(" connected.\r\n")) == before && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return tracker;
    }

    // Sends one chunk and waits until it has been captured.
    bool sendChunk(QTcpSocket &tracker, const QByteArray &chunk)
    {
        const qint32 next = engine.state().CaptureCounter + 1;
        tracker.write(chunk);
        tracker.flush();
        QDeadlineTimer deadline(10000);
        while (engine.state().CaptureCounter < next && !engine.hasEnded() && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return engine.state().CaptureCounter == next;
    }

    [[nodiscard]] QString file(const QString &name) const { return folder.filePath(name); }
    [[nodiscard]] QStringList files() const { return QDir(folder.path()).entryList(QDir::Files, QDir::Name); }
    [[nodiscard]] QString line(int i) const { return FakeControls::afterTimestamp(controls.dataLines().value(i)); }

    QTemporaryDir folder;
    FakeControls controls;
    std::unique_ptr<FakeOutServer> out;
    CaptureEngine engine{controls, folder.path()};
    quint16 inPort = 0;
    quint16 outPort = 0;
};

void abortWithReset(QTcpSocket &socket)
{
    const linger abortive{1, 0};
    ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    socket.abort();
}

QString name(qint32 number, quint16 port, const char *extension)
{
    return QStringLiteral("x%1_%2.%3").arg(number, 4, 10, QLatin1Char('0')).arg(port).arg(QLatin1StringView(extension));
}

} // namespace

class tst_CaptureEngine final : public QObject
{
    Q_OBJECT

private slots:
    void chunkIsCapturedAndRelayedExactly_data();
    void chunkIsCapturedAndRelayedExactly();
    void everyByteValueChunkByChunk();
    void oneNumberingAcrossTheKindsOfCapture();
    void armedCommandGoesAfterTheCaptureOnce();
    void hexCommandReportsIllegalElements();
    void commandOnConnect_data();
    void commandOnConnect();
    void secondTrackerIsDeclinedAndEnded();
    void disconnectThenReconnect();
    void resetByTrackerIsRecorded();
    void relayWithOutServerDownEndsAfterCapture();
    void relayWithOutServerGoneEndsAfterCapture();
    void outServerSpeakingFirstIsCaptured();
    void captureFolderLostMidRunEndsWithTheError();
};

void tst_CaptureEngine::chunkIsCapturedAndRelayedExactly_data()
{
    QTest::addColumn<QByteArray>("chunk");
    QTest::addColumn<QString>("hex");
    QTest::addColumn<QString>("ascii");
    QTest::newRow("NMEA sentence") << QByteArray("$GPRMC,1\r\n") << QStringLiteral("244750524D432C31 D A")
                                   << QStringLiteral("$GPRMC,1\r\n");
    QTest::newRow("NUL bytes") << QByteArray("\x00\x01\x00", 3) << QStringLiteral(" 0 1 0") << QStringLiteral(" \x01 ");
    QTest::newRow("high bytes") << QByteArray("\xA6\xFF") << QStringLiteral("A6FF") << QStringLiteral("\u00A6\u00FF");
}

void tst_CaptureEngine::chunkIsCapturedAndRelayedExactly()
{
    QFETCH(QByteArray, chunk);
    QFETCH(QString, hex);
    QFETCH(QString, ascii);
    Rig rig(true);
    auto tracker = rig.connectTracker();
    QVERIFY(tracker);
    QVERIFY(rig.sendChunk(*tracker, chunk));

    QCOMPARE(rig.files(), (QStringList{name(1, rig.inPort, "dat"), name(1, rig.inPort, "log")}));
    QCOMPARE(readFile(rig.file(name(1, rig.inPort, "dat"))), chunk);
    QCOMPARE(readFile(rig.file(name(1, rig.inPort, "log"))), ' ' + QByteArray::number(chunk.size()) + " \r\n");
    QCOMPARE(rig.controls.dataLines().size(), 2);
    QCOMPARE(rig.line(0), QStringLiteral(":  IN (HEXAD):") + hex + QStringLiteral("\r\n"));
    QCOMPARE(rig.line(1), QStringLiteral(":  IN (ASCII):") + ascii + QStringLiteral("\r\n"));
    QTRY_COMPARE(rig.out->received, chunk);
    QCOMPARE(tracker->readAll(), QByteArray());
}

void tst_CaptureEngine::everyByteValueChunkByChunk()
{
    Rig rig(true);
    auto tracker = rig.connectTracker();
    QVERIFY(tracker);
    QByteArray sent;
    for (int first = 0; first < 256; first += 32) {
        QByteArray chunk;
        for (int b = first; b < first + 32; ++b)
            chunk.append(char(b));
        QVERIFY(rig.sendChunk(*tracker, chunk));
        const qint32 number = rig.engine.state().CaptureCounter - 1;
        QCOMPARE(readFile(rig.file(name(number, rig.inPort, "dat"))), chunk);
        QCOMPARE(readFile(rig.file(name(number, rig.inPort, "log"))), QByteArray(" 32 \r\n"));
        sent += chunk;
    }
    QTRY_COMPARE(rig.out->received, sent);
    QCOMPARE(rig.engine.state().CaptureCounter, 9);
}

void tst_CaptureEngine::oneNumberingAcrossTheKindsOfCapture()
{
    Rig rig(true);
    auto tracker = rig.connectTracker();
    QVERIFY(tracker);
    QTRY_VERIFY(rig.out->connection);
    QVERIFY(rig.sendChunk(*tracker, "A"));
    QTRY_COMPARE(rig.out->received, QByteArray("A"));

    rig.out->connection->write("answer");
    QTRY_COMPARE(rig.engine.state().CaptureCounter, 3);
    abortWithReset(*tracker);
    QTRY_COMPARE(rig.engine.state().CaptureCounter, 4);

    const QStringList expected{name(1, rig.inPort, "dat"), name(1, rig.inPort, "log"),
                               name(2, rig.outPort, "dat"), name(2, rig.outPort, "log"),
                               QStringLiteral("x0003_err%1.log").arg(rig.inPort)};
    QStringList files = rig.files();
    QCOMPARE(files, expected);
    QCOMPARE(readFile(rig.file(name(2, rig.outPort, "dat"))), QByteArray("answer"));
    QCOMPARE(readFile(rig.file(name(2, rig.outPort, "log"))), QByteArray(" 6 \r\n"));

    // From the top: the error, the answer's pair, the chunk's pair.
    QVERIFY(rig.line(0).startsWith(QStringLiteral(": Socket ID:1 Status 10054: ")));
    QCOMPARE(rig.line(1), QStringLiteral(":  -> (HEXAD):616E73776572\r\n"));
    QCOMPARE(rig.line(2), QStringLiteral(":  -> (ASCII):answer\r\n"));
    QCOMPARE(rig.line(3), QStringLiteral(":  IN (HEXAD):41\r\n"));
    QCOMPARE(rig.line(4), QStringLiteral(":  IN (ASCII):A\r\n"));
    // The answer was recorded, not passed on.
    QCOMPARE(rig.out->received, QByteArray("A"));
}

void tst_CaptureEngine::armedCommandGoesAfterTheCaptureOnce()
{
    Rig rig(true);
    rig.controls.values[Control::Check2] = CheckValue::Ticked;
    rig.controls.texts[Control::Text4] = QStringLiteral("*PING#");
    auto tracker = rig.connectTracker();
    QVERIFY(tracker);
    QCOMPARE(tracker->bytesAvailable(), 0); // Check1 clear: nothing on connect

    QVERIFY(rig.sendChunk(*tracker, "A"));
    QCOMPARE(rig.controls.value(Control::Check2), CheckValue::Clear);
    QCOMPARE(rig.line(0), QStringLiteral(": OUT (ASCII):*PING#\r\n"));
    QCOMPARE(rig.line(1), QStringLiteral(":  IN (HEXAD):41\r\n"));
    QByteArray toTracker;
    QTRY_COMPARE((toTracker += tracker->readAll()), QByteArray("*PING#\r\n"));

    QVERIFY(rig.sendChunk(*tracker, "B"));
    QTRY_COMPARE(rig.out->received, QByteArray("AB"));
    QVERIFY(!tracker->waitForReadyRead(200));
    QCOMPARE(rig.controls.dataLines().size(), 5);
}

void tst_CaptureEngine::hexCommandReportsIllegalElements()
{
    Rig rig(false);
    rig.controls.values[Control::Check2] = CheckValue::Ticked;
    rig.controls.texts[Control::Combo1] = QStringLiteral("HEX");
    rig.controls.texts[Control::Text4] = QStringLiteral("1,002,41, ff");
    auto tracker = rig.connectTracker();
    QVERIFY(tracker);
    QVERIFY(rig.sendChunk(*tracker, "x"));
    QCOMPARE(rig.line(0), QStringLiteral(": OUT (HEXAD):A\u00FF\r\n"));
    QCOMPARE(rig.line(1), QStringLiteral(": ILLEGAL (HEXAD):002\r\n"));
    QCOMPARE(rig.line(2), QStringLiteral(": ILLEGAL (HEXAD):1\r\n"));
    QByteArray toTracker;
    QTRY_COMPARE((toTracker += tracker->readAll()), QByteArray("A\xFF\r\n"));
}

void tst_CaptureEngine::commandOnConnect_data()
{
    QTest::addColumn<int>("check1");
    QTest::addColumn<int>("check2");
    QTest::addColumn<QByteArray>("onConnect");
    QTest::addColumn<QByteArray>("afterFirstChunk");
    QTest::newRow("both ticked") << 1 << 1 << QByteArray("GO\r\n") << QByteArray();
    QTest::newRow("send immediate without a command") << 1 << 0 << QByteArray() << QByteArray();
    QTest::newRow("command without send immediate") << 0 << 1 << QByteArray() << QByteArray("GO\r\n");
    QTest::newRow("send immediate grayed") << 2 << 1 << QByteArray() << QByteArray("GO\r\n");
}

void tst_CaptureEngine::commandOnConnect()
{
    QFETCH(int, check1);
    QFETCH(int, check2);
    QFETCH(QByteArray, onConnect);
    QFETCH(QByteArray, afterFirstChunk);
    Rig rig(false);
    rig.controls.values[Control::Check1] = check1;
    rig.controls.values[Control::Check2] = check2;
    rig.controls.texts[Control::Text4] = QStringLiteral("GO");
    auto tracker = rig.connectTracker();
    QVERIFY(tracker);
    QTRY_COMPARE(tracker->bytesAvailable(), qint64(onConnect.size()));
    QCOMPARE(tracker->readAll(), onConnect);
    QCOMPARE(rig.controls.value(Control::Check1), check1 == 1 ? 0 : check1);

    QVERIFY(rig.sendChunk(*tracker, "x"));
    QTRY_COMPARE(tracker->bytesAvailable(), qint64(afterFirstChunk.size()));
    QCOMPARE(tracker->readAll(), afterFirstChunk);
    QCOMPARE(rig.controls.value(Control::Check2), 0);
}

void tst_CaptureEngine::secondTrackerIsDeclinedAndEnded()
{
    Rig rig(true);
    auto first = rig.connectTracker();
    QVERIFY(first);
    const QString log = rig.controls.log;

    QTcpSocket second;
    QSignalSpy ended(&second, &QTcpSocket::disconnected);
    second.connectToHost(QHostAddress::LocalHost, rig.inPort);
    QVERIFY(second.waitForConnected(5000));
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 5000);
    second.write("lost?");

    QVERIFY(rig.sendChunk(*first, "still here"));
    QTRY_COMPARE(rig.out->received, QByteArray("still here"));
    QCOMPARE(rig.controls.log, log);
    QVERIFY(rig.engine.state().SlotInUse[1]);
}

void tst_CaptureEngine::disconnectThenReconnect()
{
    Rig rig(false);
    auto first = rig.connectTracker();
    QVERIFY(first);
    first->disconnectFromHost();
    QTRY_VERIFY(rig.controls.log.endsWith(QStringLiteral("disconnected.\r\n")));
    QVERIFY(!rig.engine.state().SlotInUse[1]);
    auto second = rig.connectTracker();
    QVERIFY(second);
    QCOMPARE(rig.controls.log, QStringLiteral("Listening on TCP port %1\r\n"
                                              "Tracker 127.0.0.1 connected.\r\n"
                                              "Tracker 127.0.0.1 disconnected.\r\n"
                                              "Tracker 127.0.0.1 connected.\r\n")
                                   .arg(rig.inPort));
    QVERIFY(rig.sendChunk(*second, "served"));
    QCOMPARE(readFile(rig.file(name(1, rig.inPort, "dat"))), QByteArray("served"));
}

void tst_CaptureEngine::resetByTrackerIsRecorded()
{
    Rig rig(false);
    auto tracker = rig.connectTracker();
    QVERIFY(tracker);
    QVERIFY(rig.sendChunk(*tracker, "before"));
    abortWithReset(*tracker);
    QTRY_COMPARE(rig.engine.state().CaptureCounter, 3);

    const QString description = QStringLiteral("Connection is reset by remote side");
    const QString top = rig.controls.dataLines().first();
    // The date, a blank and the time, taken apart: the time shows even at midnight.
    const QString date = DateTimeText::shortDate(QDate::currentDate());
    const QString rest = QStringLiteral(": Socket ID:1 Status 10054: ") + description + QStringLiteral("\r\n");
    QVERIFY2(top.startsWith(date + QLatin1Char(' ')) && top.endsWith(rest), qPrintable(top));
    const QString time = top.mid(date.size() + 1, top.size() - date.size() - 1 - rest.size());
    QVERIFY2(time.contains(QRegularExpression(QStringLiteral("\\d"))), qPrintable(time));
    QVERIFY(rig.controls.log.endsWith(QStringLiteral("Tracker 127.0.0.1 disconnected.\r\n")));
    QCOMPARE(readFile(rig.file(QStringLiteral("x0002_err%1.log").arg(rig.inPort))), description.toLatin1() + "\r\n");
    QVERIFY(!rig.engine.state().SlotInUse[1]);
    QVERIFY(!rig.engine.hasEnded());
    QVERIFY(rig.connectTracker());
}

void tst_CaptureEngine::relayWithOutServerDownEndsAfterCapture()
{
    Rig rig(true, false);
    QTRY_VERIFY(rig.engine.sckOUT().state() != SocketEndpoint::State::Connecting);
    rig.controls.values[Control::Check2] = CheckValue::Ticked;
    rig.controls.texts[Control::Text4] = QStringLiteral("BYE");
    auto tracker = rig.connectTracker();
    QVERIFY(tracker);
    QVERIFY(rig.sendChunk(*tracker, "chunk"));

    QCOMPARE(readFile(rig.file(name(1, rig.inPort, "dat"))), QByteArray("chunk"));
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

    // Nothing is handled after the end.
    tracker->write("more");
    QTest::qWait(100);
    QCOMPARE(rig.engine.state().CaptureCounter, 2);
}

void tst_CaptureEngine::relayWithOutServerGoneEndsAfterCapture()
{
    Rig rig(true);
    auto tracker = rig.connectTracker();
    QVERIFY(tracker);
    QVERIFY(rig.sendChunk(*tracker, "one"));
    QTRY_COMPARE(rig.out->received, QByteArray("one"));
    rig.out->connection->disconnectFromHost();
    QTRY_VERIFY(rig.engine.sckOUT().state() != SocketEndpoint::State::Connected);

    QVERIFY(rig.sendChunk(*tracker, "two"));
    QCOMPARE(readFile(rig.file(name(2, rig.inPort, "dat"))), QByteArray("two"));
    QCOMPARE(rig.controls.messages.size(), 1);
    QCOMPARE(rig.controls.messages.first().title, QStringLiteral("Error sending to output socket!"));
    QCOMPARE(rig.controls.endRequests, 1);
}

void tst_CaptureEngine::outServerSpeakingFirstIsCaptured()
{
    Rig rig(true);
    QTRY_VERIFY(rig.out->connection);
    auto tracker = rig.connectTracker();
    QVERIFY(tracker);
    rig.out->connection->write(QByteArray("hi\0", 3));
    QTRY_COMPARE(rig.engine.state().CaptureCounter, 2);
    QCOMPARE(readFile(rig.file(name(1, rig.outPort, "dat"))), QByteArray("hi\0", 3));
    QCOMPARE(rig.line(0), QStringLiteral(":  -> (HEXAD):6869 0\r\n"));
    QCOMPARE(rig.line(1), QStringLiteral(":  -> (ASCII):hi \r\n"));
    QVERIFY(!tracker->waitForReadyRead(200));
}

void tst_CaptureEngine::captureFolderLostMidRunEndsWithTheError()
{
    Rig rig(true);
    auto tracker = rig.connectTracker();
    QVERIFY(tracker);
    QVERIFY(QDir(rig.folder.path()).removeRecursively());
    tracker->write("lost folder");
    QTRY_COMPARE(rig.controls.endRequests, 1);
    QCOMPARE(rig.controls.reports.size(), 1);
    QCOMPARE(rig.controls.reports.first().number, ErrorNumber::PathNotFound);
    QVERIFY(rig.controls.reports.first().description.contains(name(1, rig.inPort, "dat")));
    QVERIFY(rig.controls.messages.isEmpty());
    QVERIFY(rig.controls.dataLines().isEmpty());
    QTest::qWait(50);
    QCOMPARE(rig.out->received, QByteArray()); // nothing relayed
}

QTEST_GUILESS_MAIN(tst_CaptureEngine)
#include "tst_captureengine.moc"
