#include "datetimetext.h"
#include "outputfile.h"
#include "platformerror.h"
#include "underwine.h"

#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>

class tst_PlatformOps final : public QObject
{
    Q_OBJECT

private slots:
    void generalDateTimeText_data()
    {
        QTest::addColumn<QTime>("time");
        QTest::addColumn<bool>("dateAlone");
        QTest::newRow("afternoon") << QTime(19, 3, 32) << false;
        QTest::newRow("one second after midnight") << QTime(0, 0, 1) << false;
        QTest::newRow("exactly midnight") << QTime(0, 0, 0) << true;
    }

    void generalDateTimeText()
    {
        QFETCH(QTime, time);
        QFETCH(bool, dateAlone);
        const QDateTime moment(QDate(2026, 12, 6), time);
        const QString date = QLocale::system().toString(moment.date(), QLocale::ShortFormat);
        const QString longTime = DateTimeText::longTime(time);
        QCOMPARE(DateTimeText::general(moment), dateAlone ? date : date + QLatin1Char(' ') + longTime);
        QVERIFY2(longTime.contains(QStringLiteral("%1").arg(time.second(), 2, 10, QLatin1Char('0'))), qPrintable(longTime));
        // No time-zone name: the text ends with the seconds or an AM/PM designator.
        QVERIFY2(!longTime.contains(QStringLiteral("UTC")) && !longTime.contains(moment.timeZoneAbbreviation()),
                 qPrintable(longTime));
    }

    void nowIsTheCurrentSecond()
    {
        // Asked in one second and again in the next: each time that second's text.
        for (int i = 0; i < 2; ++i) {
            const qint64 second = QDateTime::currentSecsSinceEpoch();
            const QDateTime before = QDateTime::currentDateTime();
            const QString text = DateTimeText::now();
            const QDateTime after = QDateTime::currentDateTime();
            QVERIFY2(text == DateTimeText::general(before) || text == DateTimeText::general(after), qPrintable(text));
            QVERIFY(QTest::qWaitFor([&] { return QDateTime::currentSecsSinceEpoch() != second; }, 2000));
        }
    }

    void descriptorsAreGivenBack()
    {
        // A capture folder held open, and files in it left without a close by a failed handler:
        // every descriptor goes back when they go.
        const auto openDescriptors = [] {
            const QDir open(QStringLiteral("/proc/self/fd"));
            return open.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size();
        };
        if (openDescriptors() == 0)
            QSKIP("needs /proc");
        GPSA_SKIP_ON_WINE("Z:/proc/self/fd lists the Wine process's Linux descriptors, not this program's");
        QTemporaryDir dir;
        const qsizetype before = openDescriptors();
        for (int i = 0; i < 20; ++i) {
            OutputFolder folder;
            folder.open(dir.path());
            OutputFile file;
            file.open(folder, QStringLiteral("x0001_5000.dat"), OutputFile::Mode::Raw);
            file.write("unclosed");
        }
        QCOMPARE(openDescriptors(), before);
    }

    void outputFile_data()
    {
        QTest::addColumn<QString>("relativePath");
        QTest::addColumn<int>("expected"); // 0: opened and written
        QTest::newRow("an older, longer file is emptied") << QStringLiteral("x0001_5000.dat") << 0;
        QTest::newRow("folder missing") << QStringLiteral("missing/x0001_5000.dat") << ErrorNumber::PathNotFound;
        QTest::newRow("path is a folder") << QStringLiteral("folder") << ErrorNumber::PathFileAccess;
    }

    void outputFile()
    {
        QFETCH(QString, relativePath);
        QFETCH(int, expected);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        const QString path = dir.filePath(relativePath);
        QFile old(path);
        QVERIFY(expected != 0 || (old.open(QIODevice::WriteOnly) && old.write("an older and much longer chunk") > 0));
        old.close();
        OutputFile file;
        try {
            file.open(path, OutputFile::Mode::Raw);
            file.write("new");
            file.close();
            QCOMPARE(expected, 0);
            QVERIFY(old.open(QIODevice::ReadOnly));
            QCOMPARE(old.readAll(), QByteArray("new"));
        } catch (const PlatformError &error) {
            if (expected != ErrorNumber::PathFileAccess || error.number() != ErrorNumber::PermissionDenied)
                QCOMPARE(error.number(), expected);
            QVERIFY2(error.description().contains(QDir::toNativeSeparators(path)), qPrintable(error.description()));
        }
    }
};

QTEST_GUILESS_MAIN(tst_PlatformOps)
#include "tst_platformops.moc"
