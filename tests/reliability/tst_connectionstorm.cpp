// While one tracker is connected and sending, a storm of further connection attempts is
// declined one by one: each is closed, the tracker's data flows on untouched, and no
// descriptor is left behind.

#include "captureengine.h"
#include "capturefolder.h"
#include "countingcontrols.h"
#include "loopbackpeer.h"
#include "testpeers.h"

#include <QTemporaryDir>
#include <QtTest>

#include <thread>
#include <vector>

class tst_ConnectionStorm final : public QObject
{
    Q_OBJECT

private slots:
    void stormIsDeclinedWhileTrackerSends();
};

void tst_ConnectionStorm::stormIsDeclinedWhileTrackerSends()
{
    constexpr int Bursts = 20;
    constexpr int BurstSize = 50;

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    CountingControls controls;
    const quint16 inPort = freeLoopbackPort();
    controls.texts[Control::Text2] = QString::number(inPort);
    CaptureEngine engine(controls, folder.path());
    engine.Form_Load();
    engine.Command1_Click();
    QVERIFY(!engine.hasEnded());

    // The tracker sends pieces until the storm is over, and then a last one.
    std::atomic<bool> stormOver{false};
    std::atomic<bool> trackerDone{false};
    std::atomic<qint64> trackerPieces{0};
    QByteArray trackerSent;
    std::jthread tracker([&](const std::stop_token &stop) {
        const int fd = LoopbackPeer::connectTo(inPort);
        if (fd < 0)
            return;
        for (quint32 piece = 1; !stop.stop_requested(); ++piece) {
            const bool last = stormOver;
            const QByteArray bytes = LoopbackPeer::randomBytes(4096 + qsizetype(piece % 7) * 1000, piece);
            if (!LoopbackPeer::sendAll(fd, bytes, stop))
                break;
            trackerSent += bytes;
            ++trackerPieces;
            if (last)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        LoopbackPeer::halfClose(fd);
        while (!stop.stop_requested() && !LoopbackPeer::seesEnd(fd, 100)) {
        }
        LoopbackPeer::closeSocket(fd);
        trackerDone = true;
    });

    QTRY_VERIFY_WITH_TIMEOUT(controls.log.contains(QLatin1StringView(" connected.")), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(trackerPieces > 10, 10000);
    const int descriptorsBefore = LoopbackPeer::openDescriptorCount();

    // The storm: bursts of connection attempts, each of which has to see its connection end.
    std::atomic<int> attempts{0};
    std::atomic<int> declined{0};
    std::atomic<bool> stormDone{false};
    std::jthread storm([&](const std::stop_token &stop) {
        for (int burst = 0; burst < Bursts && !stop.stop_requested(); ++burst) {
            std::vector<int> clients;
            for (int i = 0; i < BurstSize; ++i) {
                ++attempts;
                const int fd = LoopbackPeer::connectTo(inPort);
                if (fd >= 0)
                    clients.push_back(fd);
            }
            for (const int fd : clients) {
                if (LoopbackPeer::seesEnd(fd, 30000))
                    ++declined;
                LoopbackPeer::closeSocket(fd);
            }
        }
        stormDone = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(stormDone, 240000);
    storm.join();

    // The engine closes a declined request at once: nothing of the storm is left open.
    QCoreApplication::processEvents();
    const int descriptorsAfter = LoopbackPeer::openDescriptorCount();

    stormOver = true;
    QTRY_VERIFY_WITH_TIMEOUT(trackerDone, 60000);
    tracker.join();

    QCOMPARE(attempts.load(), Bursts * BurstSize);
    QCOMPARE(declined.load(), Bursts * BurstSize);
    QVERIFY2(descriptorsAfter <= descriptorsBefore,
             qPrintable(QStringLiteral("%1 descriptors before, %2 after").arg(descriptorsBefore).arg(descriptorsAfter)));

    // The tracker was served throughout, as if alone.
    QVERIFY(!engine.hasEnded());
    QCOMPARE(controls.reports.size(), 0);
    QCOMPARE(controls.otherLines(), QStringList());
    QCOMPARE(controls.log, QStringLiteral("Listening on TCP port %1\r\n"
                                               "Tracker 127.0.0.1 connected.\r\n"
                                               "Tracker 127.0.0.1 disconnected.\r\n")
                                    .arg(inPort));
    const CaptureFolder captures(folder.path());
    QCOMPARE(captures.strayFiles(), QStringList());
    QCOMPARE(captures.sequenceProblem(), QString());
    QCOMPARE(captures.lengthLogProblem(), QString());
    QVERIFY(captures.joined(inPort) == trackerSent);

    qInfo("storm: %d attempts, %d declined and closed; descriptors %d before, %d after; tracker sent %lld bytes "
          "in %lld pieces, all captured",
          attempts.load(), declined.load(), descriptorsBefore, descriptorsAfter, qint64(trackerSent.size()),
          trackerPieces.load());
}

QTEST_GUILESS_MAIN(tst_ConnectionStorm)
#include "tst_connectionstorm.moc"
