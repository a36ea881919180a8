#include "commandcomposer.h"

#include <QtTest>

class tst_CommandComposer final : public QObject
{
    Q_OBJECT

private slots:
    void composes_data();
    void composes();
};

void tst_CommandComposer::composes_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hexMode");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("illegal");

    const QString ascii = QStringLiteral("ASCII");
    const QString hex = QStringLiteral("HEX");
    QTest::newRow("ascii, six characters") << ascii << QStringLiteral("*GS,1") + QLatin1Char('#') << false
                                           << QByteArray("*GS,1#") << QStringList();
    QTest::newRow("ascii keeps blanks") << ascii << QStringLiteral(" a b ") << false << QByteArray(" a b ")
                                        << QStringList();
    QTest::newRow("ascii, empty") << ascii << QString() << false << QByteArray() << QStringList();
    QTest::newRow("ascii, Latin-1") << ascii << QStringLiteral("\u00E9") << false << QByteArray("\xE9")
                                    << QStringList();
    QTest::newRow("small-letter type is hex") << QStringLiteral("ascii") << QStringLiteral("41") << true
                                              << QByteArray("A") << QStringList();
    QTest::newRow("any other type is hex") << QStringLiteral("whatever") << QStringLiteral("41") << true
                                           << QByteArray("A") << QStringList();
    QTest::newRow("blanks anywhere") << hex << QStringLiteral("01, 02,0a") << true << QByteArray("\x01\x02\x0a")
                                     << QStringList();
    QTest::newRow("41,FF") << hex << QStringLiteral("41,FF") << true << QByteArray("A\xFF") << QStringList();
    QTest::newRow("wrong lengths") << hex << QStringLiteral("1,002,41") << true << QByteArray("A")
                                   << QStringList{QStringLiteral("1"), QStringLiteral("002")};
    QTest::newRow("empty element") << hex << QStringLiteral("01,,02") << true << QByteArray("\x01\x02")
                                   << QStringList{QString()};
    QTest::newRow("trailing comma") << hex << QStringLiteral("01,02,") << true << QByteArray("\x01\x02")
                                    << QStringList{QString()};
    QTest::newRow("empty") << hex << QString() << true << QByteArray() << QStringList();
    QTest::newRow("blanks only") << hex << QStringLiteral("   ") << true << QByteArray() << QStringList();
    QTest::newRow("not hexadecimal") << hex << QStringLiteral("ZZ,G1,7e") << true << QByteArray("~")
                                     << QStringList{QStringLiteral("ZZ"), QStringLiteral("G1")};
    QTest::newRow("signs are not digits") << hex << QStringLiteral("+1,-1") << true << QByteArray()
                                          << QStringList{QStringLiteral("+1"), QStringLiteral("-1")};
    QTest::newRow("tab is kept") << hex << QStringLiteral("\t1") << true << QByteArray()
                                 << QStringList{QStringLiteral("\t1")};
    QTest::newRow("NUL byte") << hex << QStringLiteral("00") << true << QByteArray(1, '\0') << QStringList();
}

void tst_CommandComposer::composes()
{
    QFETCH(QString, type);
    QFETCH(QString, text);
    QFETCH(bool, hexMode);
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, illegal);
    const ComposedCommand command = composeCommand(type, text);
    QCOMPARE(command.hexMode, hexMode);
    QCOMPARE(command.bytes, bytes);
    QCOMPARE(command.illegalElements, illegal);
}

QTEST_GUILESS_MAIN(tst_CommandComposer)
#include "tst_commandcomposer.moc"
