#include "datetimetext.h"
#include "outputfile.h"
#include "platformerror.h"

#include <QLocale>
#include <QTemporaryDir>
#include <QtTest>

class tst_PlatformOps final : public QObject
{
    Q_OBJECT

private slots:
    void generalDateTimeText_data();
    void generalDateTimeText();
    void nowIsTheCurrentSecond();
    void rawFileIsEmptiedOnOpen();
    void failuresThrowWithNumberAndFile_data();
    void failuresThrowWithNumberAndFile();
};

void tst_PlatformOps::generalDateTimeText_data()
{
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<bool>("dateAlone");
    const QDate day(2026, 12, 6);
    QTest::newRow("afternoon") << QDateTime(day, QTime(19, 3, 32)) << false;
    QTest::newRow("one second after midnight") << QDateTime(day, QTime(0, 0, 1)) << false;
    QTest::newRow("exactly midnight") << QDateTime(day, QTime(0, 0, 0)) << true;
}

void tst_PlatformOps::generalDateTimeText()
{
    QFETCH(QDateTime, moment);
    QFETCH(bool, dateAlone);
    const QString date = QLocale::system().toString(moment.date(), QLocale::ShortFormat);
    const QString text = DateTimeText::general(moment);
    if (dateAlone) {
        QCOMPARE(text, date);
        return;
    }
    QCOMPARE(text, date + QLatin1Char(' ') + DateTimeText::longTime(moment.time()));
    const QString time = DateTimeText::longTime(moment.time());
    QVERIFY2(time.contains(QStringLiteral("%1").arg(moment.time().second(), 2, 10, QLatin1Char('0'))), qPrintable(time));
    // No time-zone name: the text ends with the seconds or an AM/PM designator.
    QVERIFY2(!time.contains(QStringLiteral("UTC")) && !time.contains(moment.timeZoneAbbreviation()),
             qPrintable(time));
}

void tst_PlatformOps::nowIsTheCurrentSecond()
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

void tst_PlatformOps::rawFileIsEmptiedOnOpen()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("x0001_5000.dat"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older and much longer chunk");
    }
    OutputFile file;
    file.open(path, OutputFile::Mode::Raw);
    file.write("new");
    file.close();
    QFile check(path);
    QVERIFY(check.open(QIODevice::ReadOnly));
    QCOMPARE(check.readAll(), QByteArray("new"));
}

void tst_PlatformOps::failuresThrowWithNumberAndFile_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<int>("expected");
    QTest::newRow("folder missing") << QStringLiteral("missing/x0001_5000.dat") << ErrorNumber::PathNotFound;
    QTest::newRow("path is a folder") << QStringLiteral("folder") << ErrorNumber::PathFileAccess;
}

void tst_PlatformOps::failuresThrowWithNumberAndFile()
{
    QFETCH(QString, relativePath);
    QFETCH(int, expected);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    OutputFile file;
    try {
        file.open(dir.filePath(relativePath), OutputFile::Mode::Text);
        QFAIL("no error thrown");
    } catch (const PlatformError &error) {
        if (expected != ErrorNumber::PathFileAccess || error.number() != ErrorNumber::PermissionDenied)
            QCOMPARE(error.number(), expected);
        QVERIFY2(error.description().contains(QDir::toNativeSeparators(dir.filePath(relativePath))),
                 qPrintable(error.description()));
    }
}

QTEST_GUILESS_MAIN(tst_PlatformOps)
#include "tst_platformops.moc"
