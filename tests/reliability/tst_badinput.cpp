// Operator texts that the fuzzers found troublesome, kept as regressions: a number too
// large for any integer is the overflow error, never an infinite value, and at the start it
// ends the program with that error.

#include "captureengine.h"
#include "fakecontrols.h"
#include "platformerror.h"
#include "portreading.h"
#include "socketendpoint.h"

#include <QTemporaryDir>
#include <QtTest>

class tst_BadInput final : public QObject
{
    Q_OBJECT

private slots:
    void hugeNumberOverflows_data();
    void hugeNumberOverflows();
};

void tst_BadInput::hugeNumberOverflows_data()
{
    QTest::addColumn<QString>("text");

    QTest::newRow("hexadecimal beyond a double") << QStringLiteral("&H") + QString(300, QLatin1Char('F'));
    QTest::newRow("octal beyond a double") << QStringLiteral("&O") + QString(400, QLatin1Char('7'));
    QTest::newRow("decimal beyond a double") << QStringLiteral("1e400");
    QTest::newRow("negative beyond a double") << QStringLiteral("-") + QString(400, QLatin1Char('9'));
}

void tst_BadInput::hugeNumberOverflows()
{
    QFETCH(QString, text);

    const auto overflows = [](const auto &read) {
        try {
            read();
        } catch (const PlatformError &error) {
            return error.number() == ErrorNumber::Overflow;
        }
        return false;
    };
    QVERIFY(overflows([&] { return readNumber(text); }));
    QVERIFY(overflows([&] { return readPortNumber(text); }));

    // As the IN port: reported with the error's number and description, and the end.
    QTemporaryDir folder;
    FakeControls controls;
    controls.texts[Control::Text2] = text;
    CaptureEngine engine(controls, folder.path());
    engine.Form_Load();
    engine.Command1_Click();
    QVERIFY(engine.hasEnded());
    QCOMPARE(controls.reports.size(), 1);
    QCOMPARE(controls.reports.constFirst().number, ErrorNumber::Overflow);
    QCOMPARE(controls.reports.constFirst().description, QStringLiteral("Overflow"));
    QCOMPARE(controls.endRequests, 1);
    QCOMPARE(engine.sckListen().state(), SocketEndpoint::State::Closed);
}

QTEST_GUILESS_MAIN(tst_BadInput)
#include "tst_badinput.moc"
