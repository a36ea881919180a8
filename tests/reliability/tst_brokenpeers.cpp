// Trackers and OUT servers that break the connection in the ways real deployments do: the
// engine reports what it must, keeps every byte it was given, and frees the tracker slot.

#include "captureengine.h"
#include "capturefiles.h"
#include "capturefolder.h"
#include "countingcontrols.h"
#include "endpointarray.h"
#include "loopbackpeer.h"
#include "nativeoutserver.h"
#include "platformerror.h"
#include "socketendpoint.h"
#include "testpeers.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/socket.h>
#include <thread>

namespace {

enum class TrackerFault { Reset, HalfClose, Vanish };

// The engine, started with the IN port on a free port and a capture folder of its own.
struct Rig
{
    explicit Rig(bool relay = false, quint16 outPort = 0)
    {
        controls.texts[Control::Text2] = QString::number(inPort);
        if (relay) {
            controls.values[Control::Check3] = CheckValue::Ticked;
            controls.texts[Control::Text5] = QString::number(outPort);
        }
    }
    void start()
    {
        engine.Form_Load();
        engine.Command1_Click();
    }
    [[nodiscard]] QString capture(qint32 number) const
    {
        return QString::fromLatin1(
            CaptureFolder::contents(CaptureFiles::dataFileName(folder.path(), number, inPort)));
    }
    [[nodiscard]] bool captured(qint32 number) const
    {
        return QFileInfo::exists(CaptureFiles::lengthLogName(folder.path(), number, inPort));
    }

    QTemporaryDir folder;
    CountingControls controls;
    const quint16 inPort = freeLoopbackPort();
    CaptureEngine engine{controls, folder.path()};
};

bool sendText(int fd, const char *text)
{
    return LoopbackPeer::sendAll(fd, QByteArray(text));
}

} // namespace

Q_DECLARE_METATYPE(TrackerFault)

class tst_BrokenPeers final : public QObject
{
    Q_OBJECT

private slots:
    void trackerBreaksOff_data();
    void trackerBreaksOff();
    void outServerRefuses();
    void outServerClosesMidRun();
    void outServerStopsReading();
    void outServerGoesWhileTrackerHeld();
};

void tst_BrokenPeers::trackerBreaksOff_data()
{
    QTest::addColumn<TrackerFault>("fault");
    QTest::addColumn<int>("errorNumber"); // 0: an orderly close, no error
    QTest::addColumn<QString>("description");

    QTest::newRow("reset mid-stream") << TrackerFault::Reset << ErrorNumber::ConnectionReset
                                      << QStringLiteral("Connection is reset by remote side");
    QTest::newRow("half-close") << TrackerFault::HalfClose << 0 << QString();
    QTest::newRow("vanishes without a word")
        << TrackerFault::Vanish << ErrorNumber::TimedOut << QStringLiteral("Connection timed out");
}

void tst_BrokenPeers::trackerBreaksOff()
{
    QFETCH(TrackerFault, fault);
    QFETCH(int, errorNumber);
    QFETCH(QString, description);

    Rig rig;
    // Short keep-alive timings, taken over by slot 1 when it is loaded: a silent peer is
    // given up after about three seconds.
    rig.engine.sckAcceptArray()(0).setKeepAlive(KeepAliveTimings{1, 1, 2});
    rig.start();
    QVERIFY(!rig.engine.hasEnded());

    const int tracker = LoopbackPeer::connectTo(rig.inPort);
    QVERIFY(tracker >= 0);
    QVERIFY(sendText(tracker, "$GPRMC,first"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.captured(1), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(rig.capture(1), QStringLiteral("$GPRMC,first"), 10000);

    switch (fault) {
    case TrackerFault::Reset:
        // Bytes still in flight when the reset comes are lost with the connection; these are
        // written and then the connection is torn down.
        QVERIFY(sendText(tracker, "$GPRMC,second"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.captured(2), 10000);
        LoopbackPeer::resetOnClose(tracker);
        LoopbackPeer::closeSocket(tracker);
        break;
    case TrackerFault::HalfClose:
        QVERIFY(sendText(tracker, "$GPRMC,last words"));
        LoopbackPeer::halfClose(tracker);
        break;
    case TrackerFault::Vanish:
        QVERIFY(LoopbackPeer::ignoreEverything(tracker));
        break;
    }

    const QString disconnected = QStringLiteral("Tracker 127.0.0.1 disconnected.\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(rig.controls.log.endsWith(disconnected), 30000);
    QVERIFY(!rig.engine.hasEnded());
    QVERIFY(!rig.engine.state().SlotInUse[1]);

    const qint32 captures = 2; // the first chunk and the second or the last words
    if (errorNumber != 0) {
        const qint32 errorCapture = fault == TrackerFault::Reset ? 3 : 2;
        QCOMPARE(rig.controls.otherLines().size(), 1);
        const QString line = rig.controls.otherLines().constFirst();
        QVERIFY2(line.endsWith(QStringLiteral(": Socket ID:1 Status %1: %2\r\n").arg(errorNumber).arg(description)),
                 qPrintable(line));
        QCOMPARE(CaptureFolder::contents(CaptureFiles::errorLogName(rig.folder.path(), errorCapture, rig.inPort)),
                 description.toLatin1() + "\r\n");
        QCOMPARE(rig.engine.state().CaptureCounter, errorCapture + 1);
    } else {
        QCOMPARE(rig.controls.otherLines(), QStringList());
        QCOMPARE(rig.capture(2), QStringLiteral("$GPRMC,last words"));
        QCOMPARE(rig.engine.state().CaptureCounter, captures + 1);
        // The half-closed tracker sees its connection end.
        QVERIFY(LoopbackPeer::seesEnd(tracker, 10000));
    }
    if (fault != TrackerFault::Reset)
        LoopbackPeer::closeSocket(tracker);

    // The slot is free again: the next tracker is served.
    const qint32 next = rig.engine.state().CaptureCounter;
    const int second = LoopbackPeer::connectTo(rig.inPort);
    QVERIFY(second >= 0);
    QVERIFY(sendText(second, "$GPRMC,next tracker"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.captured(next), 10000);
    QCOMPARE(rig.capture(next), QStringLiteral("$GPRMC,next tracker"));
    QCOMPARE(rig.controls.log.count(QLatin1StringView(" connected.")), 2);
    LoopbackPeer::closeSocket(second);

    const CaptureFolder folder(rig.folder.path());
    QCOMPARE(folder.sequenceProblem(), QString());
    QCOMPARE(folder.lengthLogProblem(), QString());
    QCOMPARE(rig.controls.reports.size(), 0);
}

void tst_BrokenPeers::outServerRefuses()
{
    // Nothing listens on the OUT port: the connection is refused before the first chunk.
    Rig rig(true, freeLoopbackPort());
    rig.start();
    QVERIFY(!rig.engine.hasEnded());
    QTRY_COMPARE_WITH_TIMEOUT(rig.engine.sckOUT().state(), SocketEndpoint::State::Failed, 10000);

    const int tracker = LoopbackPeer::connectTo(rig.inPort);
    QVERIFY(tracker >= 0);
    QVERIFY(sendText(tracker, "$GPRMC,refused"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.hasEnded(), 10000);

    // The chunk is captured in full before the relay fails, then the program ends.
    QCOMPARE(rig.capture(1), QStringLiteral("$GPRMC,refused"));
    QCOMPARE(rig.engine.state().CaptureCounter, 2);
    QCOMPARE(rig.controls.messages.size(), 1);
    QCOMPARE(rig.controls.messages.constFirst().title, QStringLiteral("Error sending to output socket!"));
    QCOMPARE(rig.controls.messages.constFirst().style, vbCritical);
    QVERIFY(!rig.controls.messages.constFirst().prompt.isEmpty());
    QCOMPARE(rig.controls.endRequests, 1);
    LoopbackPeer::closeSocket(tracker);
}

void tst_BrokenPeers::outServerClosesMidRun()
{
    FakeOutServer out;
    Rig rig(true, out.port());
    rig.start();
    QTRY_VERIFY_WITH_TIMEOUT(out.connection != nullptr, 10000);

    const int tracker = LoopbackPeer::connectTo(rig.inPort);
    QVERIFY(tracker >= 0);
    QVERIFY(sendText(tracker, "$GPRMC,one"));
    QTRY_COMPARE_WITH_TIMEOUT(out.received, QByteArray("$GPRMC,one"), 10000);

    out.connection->close();
    QTRY_COMPARE_WITH_TIMEOUT(rig.engine.sckOUT().state(), SocketEndpoint::State::PeerClosed, 10000);
    QVERIFY(!rig.engine.hasEnded());

    QVERIFY(sendText(tracker, "$GPRMC,two"));
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.hasEnded(), 10000);
    QCOMPARE(rig.capture(2), QStringLiteral("$GPRMC,two"));
    QCOMPARE(rig.controls.messages.size(), 1);
    QCOMPARE(rig.controls.messages.constFirst().title, QStringLiteral("Error sending to output socket!"));
    QCOMPARE(out.received, QByteArray("$GPRMC,one"));
    LoopbackPeer::closeSocket(tracker);
}

void tst_BrokenPeers::outServerStopsReading()
{
    // More than the engine may hold for a stalled OUT server, with room to spare.
    constexpr qsizetype Size = 32 * 1024 * 1024;
    constexpr qint64 MostHeld = CaptureEngine::RelayQueueLimit + 1024 * 1024; // plus one chunk
    const QByteArray trackerBytes = LoopbackPeer::randomBytes(Size, 6003);
    NativeOutServer out(trackerBytes, QByteArray());
    QVERIFY(out.isListening());
    out.setReading(false);

    Rig rig(true, out.port());
    rig.start();
    QTRY_COMPARE_WITH_TIMEOUT(rig.engine.sckOUT().state(), SocketEndpoint::State::Connected, 10000);

    const qint64 residentBefore = LoopbackPeer::residentKiB();
    std::atomic<qint64> trackerSent{0};
    std::jthread tracker([&](const std::stop_token &stop) {
        const int fd = LoopbackPeer::connectTo(rig.inPort);
        if (fd < 0)
            return;
        LoopbackPeer::sendAll(fd, trackerBytes, stop, &trackerSent);
        while (!stop.stop_requested())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        LoopbackPeer::closeSocket(fd);
    });

    // The OUT server reads nothing and its window fills. What the engine holds for it stays
    // bounded all along: the tracker is held back by its own connection's window instead.
    qint64 mostQueued = 0;
    qint64 lastSent = -1;
    QElapsedTimer sinceProgress;
    sinceProgress.start();
    const auto settled = [&] {
        mostQueued = qMax(mostQueued, rig.engine.sckOUT().bytesToWrite());
        if (trackerSent != lastSent) {
            lastSent = trackerSent;
            sinceProgress.restart();
        }
        return trackerSent == Size || sinceProgress.elapsed() > 1000 || rig.engine.hasEnded();
    };
    QTRY_VERIFY_WITH_TIMEOUT(settled(), 120000);
    QVERIFY(!rig.engine.hasEnded());
    QCOMPARE(out.received(), qint64(0));
    QVERIFY2(mostQueued <= MostHeld, qPrintable(QStringLiteral("%1 bytes queued for the OUT server").arg(mostQueued)));
    const qint64 residentBlocked = LoopbackPeer::residentKiB();
    const qint64 capturedBlocked = rig.controls.bytesShown(CaptureFiles::InHexTag);

    // Once the OUT server reads again, every byte arrives, in order, and all is captured.
    out.setReading(true);
    const auto delivered = [&] {
        mostQueued = qMax(mostQueued, rig.engine.sckOUT().bytesToWrite());
        return out.received() >= Size || out.firstMismatch() >= 0 || rig.engine.hasEnded();
    };
    QTRY_VERIFY_WITH_TIMEOUT(delivered(), 120000);
    QCOMPARE(out.firstMismatch(), qint64(-1));
    QCOMPARE(out.received(), qint64(Size));
    QVERIFY(mostQueued <= MostHeld);
    tracker.request_stop();
    tracker.join();

    const CaptureFolder folder(rig.folder.path());
    QCOMPARE(folder.sequenceProblem(), QString());
    QCOMPARE(folder.lengthLogProblem(), QString());
    QVERIFY(folder.joined(rig.inPort) == trackerBytes);
    qInfo("OUT server stopped reading: %lld of %lld bytes captured while it was blocked, at most %lld queued for "
          "it; resident memory %lld KiB before, %lld KiB while blocked; all relayed in order once it read again",
          capturedBlocked, qint64(Size), mostQueued, residentBefore, residentBlocked);
}

void tst_BrokenPeers::outServerGoesWhileTrackerHeld()
{
    // A tracker held back for a stalled OUT server is let go when that server goes away, so
    // that the next relay reports the failure instead of the tracker waiting for ever.
    constexpr qsizetype Size = 32 * 1024 * 1024;
    const QByteArray trackerBytes = LoopbackPeer::randomBytes(Size, 6005);
    NativeOutServer out(trackerBytes, QByteArray());
    QVERIFY(out.isListening());
    out.setReading(false);

    Rig rig(true, out.port());
    rig.start();
    QTRY_COMPARE_WITH_TIMEOUT(rig.engine.sckOUT().state(), SocketEndpoint::State::Connected, 10000);

    std::jthread tracker([&](const std::stop_token &stop) {
        const int fd = LoopbackPeer::connectTo(rig.inPort);
        if (fd < 0)
            return;
        LoopbackPeer::sendAll(fd, trackerBytes, stop);
        while (!stop.stop_requested())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        LoopbackPeer::closeSocket(fd);
    });
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.sckOUT().bytesToWrite() > CaptureEngine::RelayQueueLimit, 60000);

    out.closeConnection();
    QTRY_VERIFY_WITH_TIMEOUT(rig.engine.hasEnded(), 60000);
    tracker.request_stop();
    tracker.join();

    QCOMPARE(rig.controls.messages.size(), 1);
    QCOMPARE(rig.controls.messages.constFirst().title, QStringLiteral("Error sending to output socket!"));
    QCOMPARE(rig.controls.endRequests, 1);
    // Every chunk taken from the tracker was captured in full, in order.
    const CaptureFolder folder(rig.folder.path());
    QCOMPARE(folder.sequenceProblem(), QString());
    QCOMPARE(folder.lengthLogProblem(), QString());
    const QByteArray captured = folder.joined(rig.inPort);
    QVERIFY(captured.size() > CaptureEngine::RelayQueueLimit);
    QVERIFY(trackerBytes.startsWith(captured));
}

QTEST_GUILESS_MAIN(tst_BrokenPeers)
#include "tst_brokenpeers.moc"
