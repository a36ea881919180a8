// The capture folder fails under a running capture: it turns read-only, disappears or fills
// up. The engine reports the error with its number and description and ends; every earlier
// capture file stays as it was, and the file being written is named in the report.

#include "capturefiles.h"
#include "capturefolder.h"
#include "enginerig.h"
#include "filesizelimit.h"
#include "platformerror.h"
#include "smalltmpfs.h"

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <thread>
#include <unistd.h>

namespace {

enum class DiskFault { ReadOnly, FolderRemoved, TmpfsFull, FileSizeLimit };

} // namespace

Q_DECLARE_METATYPE(DiskFault)

class tst_DiskFaults final : public QObject
{
    Q_OBJECT

private slots:
    void captureFolderFails_data()
    {
        QTest::addColumn<DiskFault>("fault");
        QTest::addColumn<int>("errorNumber");
        QTest::newRow("folder made read-only") << DiskFault::ReadOnly << ErrorNumber::PermissionDenied;
        QTest::newRow("folder removed") << DiskFault::FolderRemoved << ErrorNumber::PathNotFound;
        QTest::newRow("disk full (1 MiB tmpfs)") << DiskFault::TmpfsFull << ErrorNumber::DiskFull;
        QTest::newRow("disk full (file size limit)") << DiskFault::FileSizeLimit << ErrorNumber::DiskFull;
    }

    void captureFolderFails()
    {
        QFETCH(DiskFault, fault);
        QFETCH(int, errorNumber);
        QTemporaryDir base;
        const QString captureFolder = base.filePath(QStringLiteral("capture"));
        QVERIFY(QDir().mkpath(captureFolder));
        // Root writes through any mode bits: a read-only folder then needs a read-only mount.
        const bool needsMount = fault == DiskFault::TmpfsFull || (fault == DiskFault::ReadOnly && ::geteuid() == 0);
        SmallTmpfs tmpfs(captureFolder, needsMount);
        // Whatever the row's outcome, the folder is left writable, so that it can be removed.
        const auto writable = qScopeGuard(
            [&] { QFile::setPermissions(captureFolder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); });
        if (needsMount && !tmpfs.isMounted())
            QSKIP("needs a tmpfs mounted for the test, which takes root");

        FakeControls controls;
        controls.keepChunkLines = false;
        const quint16 inPort = LoopbackSocket::freePort();
        controls.texts[Control::InPort] = QString::number(inPort);
        CaptureEngine engine(controls, captureFolder);
        engine.Form_Load();
        engine.Command1_Click();
        QVERIFY(!engine.hasEnded());

        // A few chunks are captured while all is well.
        LoopbackSocket tracker = LoopbackSocket::connectTo(inPort);
        QVERIFY(tracker.isValid());
        QByteArray sent;
        for (int i = 1; i <= 3; ++i) {
            const QByteArray chunk = QByteArray("$GPRMC,chunk ") + QByteArray::number(i) + "\r\n";
            QVERIFY(tracker.sendAll(chunk));
            sent += chunk;
            QTRY_COMPARE_WITH_TIMEOUT(controls.bytesShown.value(CaptureFiles::InHexTag), qint64(sent.size()), 10000);
        }
        const QMap<QString, QByteArray> before = CaptureFolder(captureFolder).snapshot();
        QCOMPARE(before.size(), 6);

        // The fault, then more traffic: a small chunk for a folder that refuses every file, a
        // stream for one that fills up.
        std::unique_ptr<FileSizeLimit> sizeLimit;
        const bool flood = fault == DiskFault::TmpfsFull || fault == DiskFault::FileSizeLimit;
        if (fault == DiskFault::ReadOnly && tmpfs.isMounted()) {
            QVERIFY(tmpfs.makeReadOnly());
        } else if (fault == DiskFault::ReadOnly) {
            QVERIFY(QFile::setPermissions(captureFolder, QFile::ReadOwner | QFile::ExeOwner));
            if (::access(QFile::encodeName(captureFolder).constData(), W_OK) == 0)
                QSKIP("this user writes into read-only folders");
        } else if (fault == DiskFault::FolderRemoved) {
            QVERIFY(QDir(captureFolder).removeRecursively());
        } else if (fault == DiskFault::FileSizeLimit) {
            sizeLimit = std::make_unique<FileSizeLimit>(64 * 1024);
            QVERIFY(sizeLimit->isActive());
        }

        // While the report shows, the tracker's next bytes are left alone.
        if (!flood)
            controls.whileMessageShows = [&] {
                tracker.sendAll("$GPRMC,while the report shows\r\n");
                QTest::qWait(100);
            };
        const QByteArray more = flood ? LoopbackSocket::randomBytes(8 * 1024 * 1024, 6004) : QByteArray("$GPRMC,after\r\n");
        std::jthread sender([&](const std::stop_token &stop) { tracker.sendAll(more, stop); });
        QTRY_VERIFY_WITH_TIMEOUT(engine.hasEnded(), 60000);
        sender.request_stop();
        sender.join();
        sizeLimit.reset();

        // Reported with number and description, naming the file of the capture that failed; the
        // program ends.
        const qint32 failed = engine.state().CaptureCounter;
        QCOMPARE(controls.reports.size(), 1);
        QCOMPARE(controls.reports.constFirst().number, errorNumber);
        const QString failedName = QLatin1Char('x') + CaptureFiles::captureNumber(failed) + QLatin1Char('_');
        QVERIFY2(controls.reports.constFirst().description.contains(failedName),
                 qPrintable(controls.reports.constFirst().description));
        QCOMPARE(controls.endRequests, 1);
        QCOMPARE(controls.messages.size(), 0);

        if (fault == DiskFault::FolderRemoved)
            return; // nothing is left to look at
        // No earlier capture file changed; every capture before the failed one is complete and
        // holds the tracker's bytes in order; nothing is numbered past the failed one.
        const CaptureFolder after(captureFolder);
        const QMap<QString, QByteArray> now = after.snapshot();
        for (auto file = before.cbegin(); file != before.cend(); ++file)
            QVERIFY2(now.value(file.key()) == file.value(), qPrintable(file.key()));
        QCOMPARE(after.problem(1, failed), QString());
        const QByteArray captured = after.joined(inPort, failed);
        QVERIFY(captured.size() >= sent.size());
        QVERIFY((sent + more).startsWith(captured));
        for (const CaptureFolder::Capture &capture : after.captures())
            QVERIFY2(capture.number <= failed, qPrintable(capture.logPath));
        // What the failed capture got onto the disk is the beginning of its chunk, nothing else.
        const QByteArray partial = CaptureFolder::contents(CaptureFiles::dataFileName(captureFolder, failed, inPort));
        QVERIFY((sent + more).mid(captured.size()).startsWith(partial));
    }
};

QTEST_GUILESS_MAIN(tst_DiskFaults)
#include "tst_diskfaults.moc"
