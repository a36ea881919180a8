#include "commandcomposer.h"

#include <QtTest>

class tst_CommandComposer final : public QObject
{
    Q_OBJECT

private slots:
    void composes_data()
    {
        // Only the exact word ASCII sends the text as it is; any other type reads hex elements.
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("illegal");

        const QString ascii = QStringLiteral("ASCII"), hex = QStringLiteral("HEX");
        const auto list = [](const char *elements) { return QString::fromLatin1(elements).split(QLatin1Char('|')); };
        QTest::newRow("ascii keeps blanks") << ascii << QStringLiteral(" *GS, 1# ") << QByteArray(" *GS, 1# ")
                                            << QStringList();
        QTest::newRow("ascii, empty") << ascii << QString() << QByteArray() << QStringList();
        QTest::newRow("ascii, Latin-1") << ascii << QStringLiteral("\u00E9") << QByteArray("\xE9") << QStringList();
        QTest::newRow("small-letter type is hex") << QStringLiteral("ascii") << QStringLiteral("41") << QByteArray("A")
                                                  << QStringList();
        QTest::newRow("any other type is hex") << QString() << QStringLiteral("41") << QByteArray("A") << QStringList();
        QTest::newRow("blanks anywhere, both cases") << hex << QStringLiteral(" 01, 0a,FF ") << QByteArray("\x01\x0a\xFF")
                                                     << QStringList();
        QTest::newRow("wrong lengths") << hex << QStringLiteral("1,002,41") << QByteArray("A") << list("1|002");
        QTest::newRow("empty elements") << hex << QStringLiteral("01,,02,") << QByteArray("\x01\x02") << list("|");
        QTest::newRow("blanks only") << hex << QStringLiteral("   ") << QByteArray() << QStringList();
        QTest::newRow("not hexadecimal, signs and tabs kept")
            << hex << QStringLiteral("ZZ,G1,7e,+1,-1,\t1") << QByteArray("~") << list("ZZ|G1|+1|-1|\t1");
        QTest::newRow("NUL byte") << hex << QStringLiteral("00") << QByteArray(1, '\0') << QStringList();
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        QTest::newRow("every byte value") << hex << QString::fromLatin1(all.toHex(',')) << all << QStringList();
    }

    void composes()
    {
        QFETCH(QString, type);
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, illegal);
        const ComposedCommand command = composeCommand(type, text);
        QCOMPARE(command.hexMode, type != QLatin1StringView("ASCII"));
        QCOMPARE(command.bytes, bytes);
        QCOMPARE(command.illegalElements, illegal);
        // The bytes as hex mode reads them back.
        QCOMPARE(commaSeparatedHex(bytes), QString::fromLatin1(bytes.toHex(',').toUpper()));
        QCOMPARE(composeCommand(QStringLiteral("HEX"), commaSeparatedHex(bytes)).bytes, bytes);
    }
};

QTEST_GUILESS_MAIN(tst_CommandComposer)
#include "tst_commandcomposer.moc"
