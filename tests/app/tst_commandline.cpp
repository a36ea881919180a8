#include "apptestsupport.h"
#include "commandline.h"
#include "outputfile.h"

#include <QTest>

class TestCommandLine final : public QObject
{
    Q_OBJECT

private slots:
    void presets_data();
    void presets();
    void immediateExit_data();
    void immediateExit();
    void argumentListDecodesEveryArgument();
};


void TestCommandLine::presets_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("inPort");
    QTest::addColumn<QString>("outPort");
    QTest::addColumn<QString>("outHost");
    QTest::addColumn<bool>("relay");
    QTest::addColumn<bool>("sendOnConnect");
    QTest::addColumn<bool>("armCommand");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("commandType");
    QTest::addColumn<QString>("captureFolder");
    QTest::addColumn<bool>("start");
    QTest::addColumn<bool>("headless");

    const QString home = defaultCaptureFolder();
    const QString d5000 = QStringLiteral("5000"), d5001 = QStringLiteral("5001"),
                  dhost = QStringLiteral("127.0.0.1"), ascii = QStringLiteral("ASCII");

    QTest::newRow("no arguments: the window's load-time contents")
        << args({}) << d5000 << d5001 << dhost << false << false << false << QString() << ascii << home << false
        << false;
    QTest::newRow("ports stay texts, read later as if typed")
        << args({"--in-port", "5000abc", "--out-port", " 6001 "}) << QStringLiteral("5000abc")
        << QStringLiteral(" 6001 ") << dhost << false << false << false << QString() << ascii << home << false
        << false;
    QTest::newRow("--option=value and a value that looks like an option")
        << args({"--in-port=-5", "--out-host=--relay"}) << QStringLiteral("-5") << d5001
        << QStringLiteral("--relay") << false << false << false << QString() << ascii << home << false << false;
    QTest::newRow("relay to a host")
        << args({"--relay", "--out-host", "server.example", "--out-port", "7000"}) << d5000
        << QStringLiteral("7000") << QStringLiteral("server.example") << true << false << false << QString()
        << ascii << home << false << false;
    QTest::newRow("hex command on connect")
        << args({"--command", "01, 02,0a", "--command-type", "HEX", "--send-on-connect"}) << d5000 << d5001
        << dhost << false << true << true << QStringLiteral("01, 02,0a") << QStringLiteral("HEX") << home
        << false << false;
    QTest::newRow("an empty command is still armed")
        << args({"--command", ""}) << d5000 << d5001 << dhost << false << false << true << QString() << ascii
        << home << false << false;
    QTest::newRow("--send-on-connect alone arms nothing")
        << args({"--send-on-connect"}) << d5000 << d5001 << dhost << false << true << false << QString() << ascii
        << home << false << false;
    QTest::newRow("any command type text is kept")
        << args({"--command-type", "ascii"}) << d5000 << d5001 << dhost << false << false << false << QString()
        << QStringLiteral("ascii") << home << false << false;
    QTest::newRow("capture folder, start, headless")
        << args({"--capture-dir", "/tmp/c", "--start", "--headless"}) << d5000 << d5001 << dhost << false
        << false << false << QString() << ascii << QStringLiteral("/tmp/c") << true << true;
    QTest::newRow("a repeated option takes its last value")
        << args({"--in-port", "6000", "--in-port", "6002"}) << QStringLiteral("6002") << d5001 << dhost << false
        << false << false << QString() << ascii << home << false << false;
    QTest::newRow("non-ASCII command text")
        << args({"--command", "\xc3\xa9t\xc3\xa9"}) << d5000 << d5001 << dhost << false << false << true
        << QStringLiteral(u"\u00e9t\u00e9") << ascii << home << false << false;
}

void TestCommandLine::presets()
{
    QFETCH(QStringList, arguments);
    const CommandLine commandLine = parseCommandLine(arguments);
    QVERIFY2(commandLine.run, qPrintable(commandLine.output));
    const Options &o = commandLine.options;
    QTEST(o.inPort, "inPort");
    QTEST(o.outPort, "outPort");
    QTEST(o.outHost, "outHost");
    QTEST(o.relay, "relay");
    QTEST(o.sendOnConnect, "sendOnConnect");
    QTEST(o.armCommand, "armCommand");
    QTEST(o.command, "command");
    QTEST(o.commandType, "commandType");
    QTEST(o.captureFolder, "captureFolder");
    QTEST(o.start, "start");
    QTEST(o.headless, "headless");
}

void TestCommandLine::immediateExit_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("toStandardError");
    QTest::addColumn<QString>("firstLine");

    const QString usage = QStringLiteral("Usage: gps-analyzer [options]");
    QTest::newRow("--help") << args({"--help"}) << 0 << false << usage;
    QTest::newRow("-h") << args({"-h"}) << 0 << false << usage;
    QTest::newRow("--help with other options") << args({"--headless", "--help"}) << 0 << false << usage;
    QTest::newRow("--version") << args({"--version"}) << 0 << false
                               << QStringLiteral("gps-analyzer ") + QStringLiteral(GPSA_VERSION);
    QTest::newRow("-v") << args({"-v"}) << 0 << false
                        << QStringLiteral("gps-analyzer ") + QStringLiteral(GPSA_VERSION);
    QTest::newRow("unknown option") << args({"--bogus"}) << 2 << true
                                    << QStringLiteral("gps-analyzer: Unknown option 'bogus'.");
    QTest::newRow("unknown option beside --help") << args({"--help", "--bogus"}) << 2 << true
                                                  << QStringLiteral("gps-analyzer: Unknown option 'bogus'.");
    QTest::newRow("single dash long option") << args({"-headless"}) << 2 << true
                                             << QStringLiteral("gps-analyzer: Unknown options: e, a, d, l, e, s, s.");
    QTest::newRow("missing value") << args({"--in-port"}) << 2 << true
                                   << QStringLiteral("gps-analyzer: Missing value after '--in-port'.");
    QTest::newRow("missing value of the last option")
        << args({"--relay", "--command"}) << 2 << true
        << QStringLiteral("gps-analyzer: Missing value after '--command'.");
    QTest::newRow("value given to a switch") << args({"--relay=yes"}) << 2 << true
                                             << QStringLiteral("gps-analyzer: Unexpected value after '--relay'.");
    QTest::newRow("stray argument") << args({"5000"}) << 2 << true
                                    << QStringLiteral("gps-analyzer: unexpected argument '5000'.");
}

void TestCommandLine::immediateExit()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(bool, toStandardError);
    QFETCH(QString, firstLine);

    const CommandLine commandLine = parseCommandLine(arguments);
    QVERIFY(!commandLine.run);
    QCOMPARE(commandLine.exitStatus, status);
    QCOMPARE(commandLine.outputToStandardError, toStandardError);
    QCOMPARE(commandLine.output.section(QLatin1Char('\n'), 0, 0), firstLine);
    QVERIFY(commandLine.output.endsWith(QLatin1Char('\n')));
    if (status != 0 || firstLine == QStringLiteral("Usage: gps-analyzer [options]")) {
        // Usage errors and --help show every option.
        for (const char *option : {"--in-port <TEXT>", "--out-port <TEXT>", "--out-host <TEXT>", "--relay",
                                   "--send-on-connect", "--command <TEXT>", "--command-type <TEXT>",
                                   "--capture-dir <DIR>", "--start", "--headless", "--help", "--version"})
            QVERIFY2(commandLine.output.contains(QLatin1StringView(option)), option);
    }
}

void TestCommandLine::argumentListDecodesEveryArgument()
{
    const char *argv[] = {"gps-analyzer", "--command", "", "a b"};
    QCOMPARE(argumentList(4, argv),
             (QStringList{QStringLiteral("gps-analyzer"), QStringLiteral("--command"), QString(), QStringLiteral("a b")}));
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
