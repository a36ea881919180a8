// Floods and stalls: a tracker sends as fast as loopback allows while the relay is on and the
// OUT server answers with a stream of its own, or stops reading, or goes away. Every byte must
// end up in the capture files and at the OUT server, exactly and in order, and what the engine
// holds for a stalled server stays bounded; meanwhile other connections are declined.

#include "capturefiles.h"
#include "capturefolder.h"
#include "enginerig.h"
#include "streamsocket.h"
#include "underwine.h"

#include <QElapsedTimer>
#include <QtTest>

#include <thread>
#include <vector>

namespace {

// What happens once the tracker is held for a stalled OUT server.
enum class Then { ServerReadsAgain, ServerGoes, TrackerResets };

// The flood's size in MiB: 64 unless GPSA_FLOOD_MIB asks for another (smaller under the
// sanitizers, which slow every byte down).
qsizetype floodSize()
{
    bool ok = false;
    const int mib = qEnvironmentVariableIntValue("GPSA_FLOOD_MIB", &ok);
    return qsizetype(ok && mib > 0 ? mib : 64) * 1024 * 1024;
}

// A tracker on a thread of its own that sends bytes, then half-closes and waits for the end,
// or with hold, keeps its connection open until stopped and then resets it.
std::jthread floodingTracker(quint16 port, const QByteArray &bytes, bool hold, std::atomic<qint64> &sent,
                             std::atomic<bool> &sawEnd)
{
    return std::jthread([port, &bytes, hold, &sent, &sawEnd](const std::stop_token &stop) {
        LoopbackSocket tracker = LoopbackSocket::connectTo(port);
        if (!tracker.isValid())
            return;
        if (tracker.sendAll(bytes, stop, &sent) && !hold)
            tracker.halfClose();
        while (!stop.stop_requested() && !sawEnd)
            sawEnd = !hold && tracker.seesEnd(100);
        if (hold)
            tracker.resetOnClose();
    });
}

// Bursts of connection attempts while a tracker is connected: each is declined, its connection
// ended at once, and none leaves a descriptor behind.
void declineStorm(quint16 port)
{
    constexpr int Bursts = 20;
    constexpr int BurstSize = 50;
    const int descriptorsBefore = LoopbackSocket::openDescriptorCount();
    std::atomic<int> declined{0};
    std::atomic<bool> done{false};
    std::jthread storm([&] {
        for (int burst = 0; burst < Bursts; ++burst) {
            std::vector<LoopbackSocket> clients;
            for (int i = 0; i < BurstSize; ++i)
                clients.push_back(LoopbackSocket::connectTo(port));
            for (LoopbackSocket &client : clients)
                declined += client.isValid() && client.seesEnd(30000);
        }
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done, 240000);
    storm.join();
    QCoreApplication::processEvents();
    QCOMPARE(declined.load(), Bursts * BurstSize);
    const int descriptorsAfter = LoopbackSocket::openDescriptorCount();
    QVERIFY2(descriptorsAfter <= descriptorsBefore,
             qPrintable(QStringLiteral("%1 descriptors before, %2 after").arg(descriptorsBefore).arg(descriptorsAfter)));
}

} // namespace

Q_DECLARE_METATYPE(Then)

class tst_Flood final : public QObject
{
    Q_OBJECT

private slots:
    void byteExactUnderFlood()
    {
        const qsizetype size = floodSize();
        const QByteArray trackerBytes = LoopbackSocket::randomBytes(size, 6001);
        const QByteArray answerBytes = LoopbackSocket::randomBytes(size / 4, 6002);
        ThreadedOutServer out(trackerBytes, answerBytes);
        EngineRig rig(EngineRig::Relay::ToPort, out.port());
        rig.controls.keepChunkLines = false;
        rig.start();
        QTRY_COMPARE_WITH_TIMEOUT(rig.engine.relayState(), SocketEndpoint::State::Connected, 10000);

        QElapsedTimer clock;
        clock.start();
        std::atomic<qint64> sent{0};
        std::atomic<bool> sawEnd{false};
        std::jthread tracker = floodingTracker(rig.inPort, trackerBytes, false, sent, sawEnd);
        QTRY_VERIFY_WITH_TIMEOUT(rig.engine.hasEnded() ||
                                     (sawEnd && out.received() >= size &&
                                      rig.controls.bytesShown.value(CaptureFiles::ReturnHexTag) >= answerBytes.size()),
                                 240000);
        const qint64 elapsed = clock.elapsed();
        tracker.request_stop();
        tracker.join();

        QVERIFY(!rig.engine.hasEnded());
        QCOMPARE(sent.load(), qint64(size));
        QCOMPARE(rig.controls.reports.size(), 0);
        QCOMPARE(out.firstMismatch(), qint64(-1));
        QCOMPARE(out.received(), qint64(size));

        const CaptureFolder captures(rig.folder.path());
        QCOMPARE(captures.strayFiles(), QStringList());
        QCOMPARE(captures.problem(), QString());
        // However far a peer runs ahead, a chunk, and the memory to capture it, stays bounded.
        for (const CaptureFolder::Capture &capture : captures.captures())
            QVERIFY2(QFileInfo(capture.dataPath).size() <= StreamSocket::ReadPassLimit, qPrintable(capture.dataPath));
        QVERIFY(captures.joined(rig.inPort) == trackerBytes);
        QVERIFY(captures.joined(out.port()) == answerBytes);

        // Two lines per capture and no others; the connection log tells one visit.
        const qint64 count = captures.captures().size();
        QCOMPARE(rig.controls.paneLines, 2 * count);
        QCOMPARE(rig.controls.dataLines, QStringList());
        QCOMPARE(rig.controls.bytesShown.value(CaptureFiles::InHexTag), qint64(size));
        const QString listening = QStringLiteral("Listening on TCP port %1\r\n").arg(rig.inPort);
        const QString connected = QStringLiteral("Tracker 127.0.0.1 connected.\r\n");
        const QString disconnected = QStringLiteral("Tracker 127.0.0.1 disconnected.\r\n");
        // Windows's event loop hands the whole waiting flood to the yield after the accept, so
        // its end may be logged before the connect line that follows that yield.
        if (QSysInfo::kernelType() == QStringLiteral("winnt"))
            QVERIFY(rig.controls.log == listening + connected + disconnected ||
                    rig.controls.log == listening + disconnected + connected);
        else
            QCOMPARE(rig.controls.log, listening + connected + disconnected);
        QCOMPARE(rig.engine.state().CaptureCounter, qint32(count + 1));
        qInfo("flood: %lld bytes in, %lld answered, %lld captures, %lld ms", qint64(size), qint64(answerBytes.size()),
              count, elapsed);
    }

    void trackerHeldForAStalledOutServer_data()
    {
        QTest::addColumn<Then>("then");
        QTest::newRow("OUT server reads again") << Then::ServerReadsAgain;
        QTest::newRow("OUT server goes") << Then::ServerGoes;
        QTest::newRow("tracker resets") << Then::TrackerResets;
    }

    void trackerHeldForAStalledOutServer()
    {
        if (QTest::currentDataTag() == QByteArrayView("tracker resets"))
            GPSA_SKIP_ON_WINE("closesocket() after SO_LINGER 0 ends the connection in order instead of resetting it");
        // More than the engine may hold for a stalled OUT server, with room to spare. The OUT
        // server reads nothing and its window fills; the tracker is then held back by its own
        // connection's window, and what the engine holds for the server stays bounded.
        QFETCH(Then, then);
        constexpr qsizetype Size = 32 * 1024 * 1024;
        constexpr qint64 MostHeld = CaptureEngine::RelayQueueLimit + StreamSocket::ReadPassLimit;
        const QByteArray trackerBytes = LoopbackSocket::randomBytes(Size, 6003);
        ThreadedOutServer out(trackerBytes, QByteArray());
        out.setReading(false);
        EngineRig rig(EngineRig::Relay::ToPort, out.port());
        rig.controls.keepChunkLines = false;
        rig.start();
        QTRY_COMPARE_WITH_TIMEOUT(rig.engine.relayState(), SocketEndpoint::State::Connected, 10000);

        std::atomic<qint64> sent{0};
        std::atomic<bool> sawEnd{false};
        std::jthread tracker = floodingTracker(rig.inPort, trackerBytes, true, sent, sawEnd);
        qint64 mostQueued = 0;
        qint64 lastSent = -1;
        QElapsedTimer sinceProgress;
        sinceProgress.start();
        const auto watch = [&] {
            mostQueued = qMax(mostQueued, rig.engine.relayBytesWaiting());
            if (sent != lastSent) {
                lastSent = sent;
                sinceProgress.restart();
            }
            const bool held = rig.engine.relayBytesWaiting() > CaptureEngine::RelayQueueLimit;
            return sent == Size || (held && sinceProgress.elapsed() > 1000) || rig.engine.hasEnded();
        };
        QTRY_VERIFY_WITH_TIMEOUT(watch(), 120000);
        QVERIFY(!rig.engine.hasEnded());
        QCOMPARE(out.received(), qint64(0));
        QVERIFY2(mostQueued <= MostHeld, qPrintable(QStringLiteral("%1 bytes queued").arg(mostQueued)));
        QVERIFY(rig.engine.relayBytesWaiting() > CaptureEngine::RelayQueueLimit);

        if (then == Then::ServerReadsAgain) {
            // A storm of other connections meanwhile is declined, the held tracker untouched.
            declineStorm(rig.inPort);
            if (QTest::currentTestFailed())
                return;
            QCOMPARE(rig.controls.log,
                     QStringLiteral("Listening on TCP port %1\r\nTracker 127.0.0.1 connected.\r\n").arg(rig.inPort));
            // Once the OUT server reads again, every byte arrives, in order, and all is captured.
            out.setReading(true);
            QTRY_VERIFY_WITH_TIMEOUT(
                (watch(), out.received() >= Size || out.firstMismatch() >= 0 || rig.engine.hasEnded()), 120000);
            QCOMPARE(out.received(), qint64(Size));
            QVERIFY(mostQueued <= MostHeld);
        } else if (then == Then::ServerGoes) {
            // The tracker is let go, so that the next relay reports the failure instead of the
            // tracker waiting for ever.
            out.closeConnection();
            QTRY_VERIFY_WITH_TIMEOUT(rig.engine.hasEnded(), 60000);
            QCOMPARE(rig.controls.messages.size(), 1);
            QCOMPARE(rig.controls.messages.constFirst().title, QStringLiteral("Error sending to output socket!"));
        } else {
            // The tracker's slot is freed at once.
            tracker.request_stop();
            tracker.join();
            QTRY_VERIFY_WITH_TIMEOUT(rig.controls.log.endsWith(QStringLiteral("Tracker 127.0.0.1 disconnected.\r\n")),
                                     10000);
            QVERIFY(!rig.engine.state().SlotInUse[1]);
            QVERIFY(!rig.engine.hasEnded());
        }
        // What was captured is a beginning of what the tracker sent, all of it when it was let
        // be, and it all reaches a server that reads again.
        const CaptureFolder folder(rig.folder.path());
        QCOMPARE(folder.problem(), QString());
        const QByteArray captured = folder.joined(rig.inPort);
        QVERIFY(captured.size() > CaptureEngine::RelayQueueLimit);
        QVERIFY(then == Then::ServerReadsAgain ? captured == trackerBytes : trackerBytes.startsWith(captured));
        if (then == Then::TrackerResets) {
            out.setReading(true);
            QTRY_COMPARE_WITH_TIMEOUT(out.received(), qint64(captured.size()), 30000);
        }
        QCOMPARE(out.firstMismatch(), qint64(-1));
    }
};

QTEST_GUILESS_MAIN(tst_Flood)
#include "tst_flood.moc"
