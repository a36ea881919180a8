#include "apptestsupport.h"
#include "commandcomposer.h"
#include "commandline.h"
#include "outputfile.h"

#include <QTest>

#include <functional>

class TestCommandLine final : public QObject
{
    Q_OBJECT

private slots:
    void presets_data();
    void presets();
    void immediateExit_data();
    void immediateExit();
};


void TestCommandLine::presets_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<std::function<void(Options &)>>("change"); // of the load-time contents

    const auto row = [](const char *name, const QStringList &arguments, std::function<void(Options &)> change) {
        QTest::newRow(name) << arguments << change;
    };
    row("no arguments: the window's load-time contents", args({}), [](Options &) {});
    row("ports stay texts, read later as if typed", args({"--in-port", "5000abc", "--out-port", " 6001 "}),
        [](Options &o) { o.inPort = QStringLiteral("5000abc"); o.outPort = QStringLiteral(" 6001 "); });
    row("--option=value and a value that looks like an option", args({"--in-port=-5", "--out-host=--relay"}),
        [](Options &o) { o.inPort = QStringLiteral("-5"); o.outHost = QStringLiteral("--relay"); });
    row("relay to a host", args({"--relay", "--out-host", "server.example", "--out-port", "7000"}), [](Options &o) {
        o.relay = true;
        o.outHost = QStringLiteral("server.example");
        o.outPort = QStringLiteral("7000");
    });
    row("hex command on connect", args({"--command", "01, 02,0a", "--command-type", "HEX", "--send-on-connect"}),
        [](Options &o) {
            o.command = QStringLiteral("01, 02,0a");
            o.armCommand = o.sendOnConnect = true;
            o.commandType = QStringLiteral("HEX");
        });
    row("an empty command is still armed", args({"--command", ""}), [](Options &o) { o.armCommand = true; });
    row("--send-on-connect alone arms nothing", args({"--send-on-connect"}), [](Options &o) { o.sendOnConnect = true; });
    row("capture folder, start, headless", args({"--capture-dir", "/tmp/c", "--start", "--headless"}), [](Options &o) {
        o.captureFolder = QStringLiteral("/tmp/c");
        o.start = o.headless = true;
    });
    row("non-ASCII command text", args({"--command", "\xc3\xa9t\xc3\xa9"}), [](Options &o) {
        o.command = QStringLiteral(u"\u00e9t\u00e9");
        o.armCommand = true;
    });
    row("features", args({"--relay", "--pass-answers", "--protocol", "GT06", "--auto-ack", "--no-crlf",
                          "--session-index", "--listen-address", "127.0.0.1"}),
        [](Options &o) {
            o.relay = o.features.passAnswers = o.features.acknowledge = o.features.sessionIndex = true;
            o.features.protocol = ProtocolChoice::only(TrackerProtocol::GT06);
            o.features.appendCrLf = false;
            o.features.listenAddress = QStringLiteral("127.0.0.1");
        });
    // The two examples of the command frame's help: the frame becomes the command, as HEX bytes.
    row("Codec 12 frame", args({"--command", "getinfo", "--command-frame", "codec12"}), [](Options &o) {
        o.armCommand = true;
        o.command = commaSeparatedHex(QByteArray::fromHex("000000000000000F0C010500000007676574696E666F0100004312"));
        o.commandType = QStringLiteral("HEX");
        o.features.appendCrLf = false;
    });
    row("GT06 frame of hex bytes", args({"--command", "52,65,6C,61,79,2C,31,23", "--command-type", "HEX",
                                         "--command-frame", "Gt06"}),
        [](Options &o) {
            o.armCommand = true;
            o.command = commaSeparatedHex(QByteArray::fromHex("787812800c0000000052656c61792c312300009dee0d0a"));
            o.commandType = QStringLiteral("HEX");
            o.features.appendCrLf = false;
        });
}

void TestCommandLine::presets()
{
    QFETCH(QStringList, arguments);
    QFETCH(std::function<void(Options &)>, change);
    const CommandLine commandLine = parseCommandLine(arguments);
    QVERIFY2(commandLine.run, qPrintable(commandLine.output));
    Options expected;
    expected.captureFolder = defaultCaptureFolder();
    change(expected);
    const Options &o = commandLine.options;
    QCOMPARE(o.inPort, expected.inPort);
    QCOMPARE(o.outPort, expected.outPort);
    QCOMPARE(o.outHost, expected.outHost);
    QCOMPARE(o.relay, expected.relay);
    QCOMPARE(o.sendOnConnect, expected.sendOnConnect);
    QCOMPARE(o.armCommand, expected.armCommand);
    QCOMPARE(o.command, expected.command);
    QCOMPARE(o.commandType, expected.commandType);
    QCOMPARE(o.captureFolder, expected.captureFolder);
    QCOMPARE(o.start, expected.start);
    QCOMPARE(o.headless, expected.headless);
    QCOMPARE(o.features.passAnswers, expected.features.passAnswers);
    QCOMPARE(o.features.protocol, expected.features.protocol);
    QCOMPARE(o.features.acknowledge, expected.features.acknowledge);
    QCOMPARE(o.features.appendCrLf, expected.features.appendCrLf);
    QCOMPARE(o.features.sessionIndex, expected.features.sessionIndex);
    QCOMPARE(o.features.listenAddress, expected.features.listenAddress);
}

void TestCommandLine::immediateExit_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("toStandardError");
    QTest::addColumn<QString>("firstLine");

    const QString usage = QStringLiteral("Usage: gps-analyzer [options]");
    QTest::newRow("--help") << args({"--help"}) << 0 << false << usage;
    QTest::newRow("--help with other options") << args({"--headless", "--help"}) << 0 << false << usage;
    QTest::newRow("--version") << args({"--version"}) << 0 << false
                               << QStringLiteral("gps-analyzer ") + QStringLiteral(GPSA_VERSION);
    QTest::newRow("unknown option") << args({"--bogus"}) << 2 << true
                                    << QStringLiteral("gps-analyzer: Unknown option 'bogus'.");
    QTest::newRow("single dash long option") << args({"-headless"}) << 2 << true
                                             << QStringLiteral("gps-analyzer: Unknown options: e, a, d, l, e, s, s.");
    QTest::newRow("missing value") << args({"--in-port"}) << 2 << true
                                   << QStringLiteral("gps-analyzer: Missing value after '--in-port'.");
    QTest::newRow("value given to a switch") << args({"--relay=yes"}) << 2 << true
                                             << QStringLiteral("gps-analyzer: Unexpected value after '--relay'.");
    QTest::newRow("stray argument") << args({"5000"}) << 2 << true
                                    << QStringLiteral("gps-analyzer: unexpected argument '5000'.");
    QTest::newRow("answers passed without a relay")
        << args({"--pass-answers"}) << 2 << true
        << QStringLiteral("gps-analyzer: --pass-answers passes the OUT server's answers on, which needs --relay.");
    QTest::newRow("unknown protocol")
        << args({"--protocol", "xyz"}) << 2 << true
        << QStringLiteral("gps-analyzer: unknown protocol 'xyz'; one of: auto, teltonika, gt06, h02, meitrack, tk103, "
                          "queclink, nmea.");
    QTest::newRow("unknown command frame") << args({"--command", "x", "--command-frame", "x"}) << 2 << true
                                           << QStringLiteral("gps-analyzer: unknown command frame 'x'; one of: codec12, "
                                                             "gt06, nmea.");
    QTest::newRow("command too long for its frame")
        << args({"--command", QByteArray(246, 'A').constData(), "--command-frame", "gt06"}) << 2 << true
        << QStringLiteral("gps-analyzer: --command-frame gt06: The command is 246 bytes long; GT06 frames hold at most 245.");
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
    QVERIFY2(commandLine.output.section(QLatin1Char('\n'), 0, 0).startsWith(firstLine), qPrintable(commandLine.output));
    QVERIFY(commandLine.output.endsWith(QLatin1Char('\n')));
    if (status != 0 || firstLine == QStringLiteral("Usage: gps-analyzer [options]")) {
        // Usage errors and --help show every option.
        for (const char *option : {"--in-port <TEXT>", "--out-port <TEXT>", "--out-host <TEXT>", "--relay",
                                   "--send-on-connect", "--command <TEXT>", "--command-type <TEXT>",
                                   "--capture-dir <DIR>", "--start", "--headless", "--help", "--version"})
            QVERIFY2(commandLine.output.contains(QLatin1StringView(option)), option);
    }
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
