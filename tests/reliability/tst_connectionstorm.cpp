// While one tracker is connected and sending, a storm of further connection attempts is
// declined one by one: each is closed, the tracker's data flows on untouched, and no
// descriptor is left behind.

#include "capturefolder.h"
#include "enginerig.h"

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
    EngineRig rig;
    rig.controls.keepChunkLines = false;
    rig.start();

    // The tracker sends pieces until the storm is over, and then a last one.
    std::atomic<bool> stormOver{false};
    std::atomic<bool> trackerDone{false};
    std::atomic<qint64> pieces{0};
    QByteArray trackerSent;
    std::jthread tracker([&](const std::stop_token &stop) {
        LoopbackSocket fd = LoopbackSocket::connectTo(rig.inPort);
        for (quint32 piece = 1; fd.isValid() && !stop.stop_requested(); ++piece) {
            const bool last = stormOver;
            const QByteArray bytes = LoopbackSocket::randomBytes(4096 + qsizetype(piece % 7) * 1000, piece);
            if (!fd.sendAll(bytes, stop))
                break;
            trackerSent += bytes;
            ++pieces;
            if (last)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        fd.halfClose();
        while (!stop.stop_requested() && !fd.seesEnd(100)) {
        }
        trackerDone = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(pieces > 10, 10000);
    const int descriptorsBefore = LoopbackSocket::openDescriptorCount();

    // Bursts of connection attempts, each of which has to see its connection end.
    std::atomic<int> declined{0};
    std::atomic<bool> stormDone{false};
    std::jthread storm([&] {
        for (int burst = 0; burst < Bursts; ++burst) {
            std::vector<LoopbackSocket> clients;
            for (int i = 0; i < BurstSize; ++i)
                clients.push_back(LoopbackSocket::connectTo(rig.inPort));
            for (LoopbackSocket &client : clients)
                declined += client.isValid() && client.seesEnd(30000);
        }
        stormDone = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(stormDone, 240000);
    storm.join();
    QCoreApplication::processEvents();
    const int descriptorsAfter = LoopbackSocket::openDescriptorCount();
    stormOver = true;
    QTRY_VERIFY_WITH_TIMEOUT(trackerDone, 60000);
    tracker.join();

    QCOMPARE(declined.load(), Bursts * BurstSize);
    // A declined request is closed at once: nothing of the storm is left open.
    QVERIFY2(descriptorsAfter <= descriptorsBefore,
             qPrintable(QStringLiteral("%1 descriptors before, %2 after").arg(descriptorsBefore).arg(descriptorsAfter)));
    // The tracker was served throughout, as if alone.
    QVERIFY(!rig.engine.hasEnded());
    QCOMPARE(rig.controls.dataLines, QStringList());
    QCOMPARE(rig.controls.log, QStringLiteral("Listening on TCP port %1\r\nTracker 127.0.0.1 connected.\r\n"
                                              "Tracker 127.0.0.1 disconnected.\r\n")
                                   .arg(rig.inPort));
    const CaptureFolder captures(rig.folder.path());
    QCOMPARE(captures.sequenceProblem(), QString());
    QVERIFY(captures.joined(rig.inPort) == trackerSent);
}

QTEST_GUILESS_MAIN(tst_ConnectionStorm)
#include "tst_connectionstorm.moc"
