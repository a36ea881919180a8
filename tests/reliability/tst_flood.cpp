// A tracker floods the IN port with random bytes while the relay is on and the OUT server
// answers with a stream of its own: every byte must end up in the capture files and at the
// OUT server, exactly and in order.

#include "captureengine.h"
#include "capturefiles.h"
#include "capturefolder.h"
#include "countingcontrols.h"
#include "loopbackpeer.h"
#include "nativeoutserver.h"
#include "socketendpoint.h"
#include "streamsocket.h"
#include "testpeers.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>

namespace {

// The flood's size in MiB: 64 unless GPSA_FLOOD_MIB asks for another (smaller under the
// sanitizers, which slow every byte down).
qsizetype floodSize()
{
    bool ok = false;
    const int mib = qEnvironmentVariableIntValue("GPSA_FLOOD_MIB", &ok);
    return qsizetype(ok && mib > 0 ? mib : 64) * 1024 * 1024;
}

} // namespace

class tst_Flood final : public QObject
{
    Q_OBJECT

private slots:
    void byteExactUnderFlood();
};

void tst_Flood::byteExactUnderFlood()
{
    const qsizetype size = floodSize();
    const QByteArray trackerBytes = LoopbackPeer::randomBytes(size, 6001);
    const QByteArray answerBytes = LoopbackPeer::randomBytes(size / 4, 6002);
    NativeOutServer out(trackerBytes, answerBytes);
    QVERIFY(out.isListening());

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    CountingControls controls;
    const quint16 inPort = freeLoopbackPort();
    controls.texts[Control::Text2] = QString::number(inPort);
    controls.texts[Control::Text5] = QString::number(out.port());
    controls.values[Control::Check3] = CheckValue::Ticked;
    CaptureEngine engine(controls, folder.path());
    engine.Form_Load();
    engine.Command1_Click();
    QVERIFY(!engine.hasEnded());
    QTRY_COMPARE_WITH_TIMEOUT(engine.sckOUT().state(), SocketEndpoint::State::Connected, 10000);

    QElapsedTimer clock;
    clock.start();
    std::atomic<bool> trackerSent{false};
    std::atomic<bool> trackerSawEnd{false};
    std::jthread tracker([&](const std::stop_token &stop) {
        const int fd = LoopbackPeer::connectTo(inPort);
        if (fd < 0)
            return;
        trackerSent = LoopbackPeer::sendAll(fd, trackerBytes, stop);
        LoopbackPeer::halfClose(fd);
        while (!stop.stop_requested() && !trackerSawEnd)
            trackerSawEnd = LoopbackPeer::seesEnd(fd, 100);
        LoopbackPeer::closeSocket(fd);
    });

    const auto settled = [&] {
        return engine.hasEnded() || (trackerSawEnd && out.received() >= size &&
                                     controls.bytesShown(CaptureFiles::ReturnHexTag) >= answerBytes.size());
    };
    QTRY_VERIFY_WITH_TIMEOUT(settled(), 240000);
    const qint64 elapsed = clock.elapsed();
    tracker.request_stop();
    tracker.join();

    QVERIFY(!engine.hasEnded());
    QVERIFY(trackerSent);
    QCOMPARE(controls.reports.size(), 0);
    QCOMPARE(controls.messages.size(), 0);

    // The OUT server got every byte, in order, and nothing more.
    QCOMPARE(out.firstMismatch(), qint64(-1));
    QCOMPARE(out.received(), qint64(size));
    QCOMPARE(out.answerSent(), qint64(answerBytes.size()));

    const CaptureFolder captures(folder.path());
    QCOMPARE(captures.strayFiles(), QStringList());
    QCOMPARE(captures.sequenceProblem(), QString());
    QCOMPARE(captures.lengthLogProblem(), QString());
    qint64 largestIn = 0;
    qint64 largestAnswer = 0;
    for (const CaptureFolder::Capture &capture : captures.captures()) {
        QVERIFY2(!capture.errorLog, qPrintable(capture.logPath));
        QVERIFY2(capture.port == inPort || capture.port == out.port(), qPrintable(capture.logPath));
        qint64 &largest = capture.port == inPort ? largestIn : largestAnswer;
        largest = qMax(largest, QFileInfo(capture.dataPath).size());
    }
    // However far a peer runs ahead, a chunk, and the memory to capture it, stays bounded.
    QVERIFY2(largestIn <= StreamSocket::ReadPassLimit, qPrintable(QString::number(largestIn)));
    QVERIFY2(largestAnswer <= StreamSocket::ReadPassLimit, qPrintable(QString::number(largestAnswer)));
    QVERIFY(captures.joined(inPort) == trackerBytes);
    QVERIFY(captures.joined(out.port()) == answerBytes);

    // Two lines per capture and no others; the connection log tells one visit.
    const qint64 count = captures.captures().size();
    QCOMPARE(controls.paneLines(), 2 * count);
    QCOMPARE(controls.otherLines(), QStringList());
    QCOMPARE(controls.bytesShown(CaptureFiles::InHexTag), qint64(size));
    QCOMPARE(controls.log, QStringLiteral("Listening on TCP port %1\r\n"
                                               "Tracker 127.0.0.1 connected.\r\n"
                                               "Tracker 127.0.0.1 disconnected.\r\n")
                                    .arg(inPort));
    QCOMPARE(engine.state().CaptureCounter, qint32(count + 1));

    qInfo("flood: %lld bytes in, %lld bytes answered, %lld captures (largest %lld bytes in, %lld answered), "
          "%lld ms, 0 bytes lost",
          qint64(size), qint64(answerBytes.size()), count, largestIn, largestAnswer, elapsed);
}

QTEST_GUILESS_MAIN(tst_Flood)
#include "tst_flood.moc"
