#include "capturefiles.h"

#include <QtTest>

using namespace CaptureFiles;

class tst_CaptureFiles final : public QObject
{
    Q_OBJECT

private slots:
    void namesAndLengthLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QString folder = QStringLiteral("/cap");
        QTest::newRow("first data file") << dataFileName(folder, 1, 5000) << QStringLiteral("/cap/x0001_5000.dat");
        QTest::newRow("first length log") << lengthLogName(folder, 1, 5000) << QStringLiteral("/cap/x0001_5000.log");
        QTest::newRow("error log") << errorLogName(folder, 3, 5000) << QStringLiteral("/cap/x0003_err5000.log");
        QTest::newRow("four digits") << dataFileName(folder, 9999, 80) << QStringLiteral("/cap/x9999_80.dat");
        QTest::newRow("five digits") << dataFileName(folder, 10000, 5000) << QStringLiteral("/cap/x10000_5000.dat");
        QTest::newRow("largest number") << lengthLogName(folder, 2147483647, 65534)
                                        << QStringLiteral("/cap/x2147483647_65534.log");
        QTest::newRow("length of an empty chunk") << QString::fromLatin1(lengthLine(0)) << QStringLiteral(" 0 \r\n");
        QTest::newRow("length of a megabyte") << QString::fromLatin1(lengthLine(1048576))
                                              << QStringLiteral(" 1048576 \r\n");
    }

    void namesAndLengthLines()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text, expected);
    }

    void renderingsOfEveryByte_data()
    {
        QTest::addColumn<int>("byte");
        QTest::addColumn<QString>("field");
        for (int b = 0; b < 256; ++b)
            QTest::addRow("%02x", b) << b << QString::number(b, 16).toUpper().rightJustified(2, QLatin1Char(' '));
    }

    void renderingsOfEveryByte()
    {
        QFETCH(int, byte);
        QFETCH(QString, field);
        // In the middle of a chunk the field is the same: fields follow each other unseparated.
        QCOMPARE(hexRendering(QByteArray("\x41") + char(byte) + '\x42'), QStringLiteral("41") + field + QStringLiteral("42"));
        QCOMPARE(asciiRendering(QByteArray(1, char(byte))), QString(QChar(byte == 0 ? 32 : byte)));
    }

    void renderingsOfAChunk_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<QString>("hex");
        QTest::addColumn<QString>("ascii");
        QTest::newRow("empty") << QByteArray() << QString() << QString();
        QTest::newRow("example") << QByteArray("\x24\x0D\x0A\xFF\x00", 5) << QStringLiteral("24 D AFF 0")
                                 << QStringLiteral("$\r\n\u00FF ");
        QTest::newRow("NUL bytes") << QByteArray("A\0\0B", 4) << QStringLiteral("41 0 042") << QStringLiteral("A  B");
    }

    void renderingsOfAChunk()
    {
        QFETCH(QByteArray, chunk);
        QFETCH(QString, hex);
        QFETCH(QString, ascii);
        QCOMPARE(hexRendering(chunk), hex);
        QCOMPARE(asciiRendering(chunk), ascii);
        // The lines built in one pass hold the same renderings.
        const QString timestamp = QStringLiteral("06/12/2026 19:03:32");
        QCOMPARE(hexLine(timestamp, InHexTag, chunk), timestamp + InHexTag + hex + QStringLiteral("\r\n"));
        QCOMPARE(asciiLine(timestamp, ReturnAsciiTag, chunk), timestamp + ReturnAsciiTag + ascii + QStringLiteral("\r\n"));
        QCOMPARE(paneLine(timestamp, CommandHexTag, ascii), timestamp + CommandHexTag + ascii + QStringLiteral("\r\n"));
    }
};

QTEST_GUILESS_MAIN(tst_CaptureFiles)
#include "tst_capturefiles.moc"
