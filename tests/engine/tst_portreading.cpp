#include "platformerror.h"
#include "portreading.h"

#include <QtTest>

class tst_PortReading final : public QObject
{
    Q_OBJECT

private slots:
    void reads_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected");
        QTest::newRow("letters after") << QStringLiteral("5000abc") << 5000;
        QTest::newRow("blank inside") << QStringLiteral("5 000") << 5000;
        QTest::newRow("tab and line feed inside") << QStringLiteral("\t50\n00 ") << 5000;
        QTest::newRow("carriage return ends the number") << QStringLiteral("50\r00") << 50;
        QTest::newRow("empty") << QString() << 0;
        QTest::newRow("letters") << QStringLiteral("abc") << 0;
        QTest::newRow("sign alone") << QStringLiteral("-") << 0;
        QTest::newRow("negative") << QStringLiteral("-5000") << -5000;
        QTest::newRow("plus sign") << QStringLiteral("+7") << 7;
        QTest::newRow("half rounds to even, up") << QStringLiteral("1.5") << 2;
        QTest::newRow("half rounds to even, down") << QStringLiteral("65534.5") << 65534;
        QTest::newRow("point five") << QStringLiteral(".5") << 0;
        QTest::newRow("65534.6") << QStringLiteral("65534.6") << 65535;
        QTest::newRow("exponent") << QStringLiteral("5e3") << 5000;
        QTest::newRow("exponent with D") << QStringLiteral("5D3") << 5000;
        QTest::newRow("negative exponent") << QStringLiteral("50000e-1") << 5000;
        QTest::newRow("exponent without digits") << QStringLiteral("5e") << 5;
        QTest::newRow("too small for a double") << QStringLiteral("1e-400") << 0;
        QTest::newRow("too small, negative, long mantissa") << QStringLiteral("-123.45e-99999999999") << 0;
        QTest::newRow("hexadecimal") << QStringLiteral("&H1388") << 5000;
        QTest::newRow("hexadecimal, small letters") << QStringLiteral("&h13a") << 314;
        QTest::newRow("octal") << QStringLiteral("&O11610") << 5000;
        QTest::newRow("octal stops at 8") << QStringLiteral("&O178") << 15;
        QTest::newRow("ampersand alone") << QStringLiteral("&5000") << 0;
        QTest::newRow("largest") << QStringLiteral("2147483647") << 2147483647;
        QTest::newRow("smallest") << QStringLiteral("-2147483648") << int(-2147483648LL);
    }

    void reads()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        QCOMPARE(readPortNumber(text), expected);
    }

    void beyondThe32BitRangeIsAnOverflow_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("beyondADouble");
        QTest::newRow("one too many") << QStringLiteral("2147483648") << false;
        QTest::newRow("one too few") << QStringLiteral("-2147483649") << false;
        QTest::newRow("rounds beyond") << QStringLiteral("2147483647.5") << false;
        // Found by the fuzzer: none of these may read as an infinite value.
        QTest::newRow("huge exponent") << QStringLiteral("1e400") << true;
        QTest::newRow("hexadecimal beyond a double") << QStringLiteral("&H") + QString(300, QLatin1Char('F')) << true;
        QTest::newRow("octal beyond a double") << QStringLiteral("&O") + QString(400, QLatin1Char('7')) << true;
        QTest::newRow("negative beyond a double") << QStringLiteral("-") + QString(400, QLatin1Char('9')) << true;
    }

    void beyondThe32BitRangeIsAnOverflow()
    {
        QFETCH(QString, text);
        QFETCH(bool, beyondADouble);
        const auto overflows = [](const std::function<void()> &read) {
            try {
                read();
            } catch (const PlatformError &error) {
                return error.number() == ErrorNumber::Overflow && error.description() == QStringLiteral("Overflow");
            }
            return false;
        };
        QVERIFY(overflows([&] { (void)readPortNumber(text); }));
        QCOMPARE(overflows([&] { (void)readNumber(text); }), beyondADouble);
    }
};

QTEST_GUILESS_MAIN(tst_PortReading)
#include "tst_portreading.moc"
