#include "datetimetext.h"
#include "outputfile.h"
#include "platformerror.h"
#include "underwine.h"

#include <QTemporaryDir>
#include <QtTest>

class tst_PlatformOps final : public QObject
{
    Q_OBJECT

private slots:
    void generalDateTimeText_data()
    {
        // In the en_US locale (set below, before main()), whose long time form ends in a
        // time-zone name that the texts leave out. Windows takes its regional settings from the
        // machine, not from the variable; its en-US short date has the year's four digits.
        QTest::addColumn<QDateTime>("moment");
        QTest::addColumn<QString>("text");
#ifdef Q_OS_WIN
        if (QLocale::system().name() != QLatin1String("en_US"))
            QSKIP("needs the en-US regional settings");
        const auto year = [](int y) { return QString::number(y); };
#else
        const auto year = [](int y) { return QString::number(y % 100); };
#endif
        const QDate date(2026, 12, 6);
        QTest::newRow("afternoon") << QDateTime(date, QTime(19, 3, 32))
                                   << QStringLiteral("12/6/%1 7:03:32 PM").arg(year(2026));
        QTest::newRow("one second after midnight") << QDateTime(date, QTime(0, 0, 1))
                                                   << QStringLiteral("12/6/%1 12:00:01 AM").arg(year(2026));
        QTest::newRow("exactly midnight: the date alone") << QDateTime(date, QTime(0, 0))
                                                          << QStringLiteral("12/6/%1").arg(year(2026));
        QTest::newRow("a date of four digits") << QDateTime(QDate(2031, 10, 28), QTime(9, 5, 0))
                                               << QStringLiteral("10/28/%1 9:05:00 AM").arg(year(2031));
    }

    void generalDateTimeText()
    {
        QFETCH(QDateTime, moment);
        QFETCH(QString, text);
        QCOMPARE(DateTimeText::general(moment), text);
        // The two forms apart, as a socket error's line joins them: there the time shows at
        // midnight too.
        QCOMPARE(DateTimeText::shortDate(moment.date()), text.section(QLatin1Char(' '), 0, 0));
        QCOMPARE(DateTimeText::longTime(QTime(0, 0)), QStringLiteral("12:00:00 AM"));
    }

    void nowIsTheCurrentSecond()
    {
        const QDateTime before = QDateTime::currentDateTime();
        const QString text = DateTimeText::now();
        const QDateTime after = QDateTime::currentDateTime();
        QVERIFY2(text == DateTimeText::general(before) || text == DateTimeText::general(after), qPrintable(text));
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

// Date and time texts are compared with the literal texts of one locale, set before main().
[[maybe_unused]] static const bool InEnUs = qputenv("LC_ALL", "en_US.UTF-8");

QTEST_GUILESS_MAIN(tst_PlatformOps)
#include "tst_platformops.moc"
