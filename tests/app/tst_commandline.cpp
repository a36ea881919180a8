// The command line's presets, equal in the window and the headless front end, and its
// immediate exits.

#include "apptestsupport.h"
#include "analyzerfrm.h"
#include "commandcomposer.h"
#include "commandline.h"
#include "headlessfrontend.h"
#include "liveviewservice.h"
#include "outputfile.h"
#include "socketslibrary.h"
#include "windowpresets.h"

#include <QTemporaryDir>
#include <QTest>

#include <functional>

#ifndef Q_OS_WIN
#include <sys/resource.h>
#endif

class tst_CommandLine final : public QObject
{
    Q_OBJECT

private slots:
    void presets_data();
    void presets();
    void immediateExit_data();
    void immediateExit();
    void openFilesLimit(); // last: it lowers this process's limit for good
};


void tst_CommandLine::presets_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<std::function<void(Options &)>>("change"); // of the load-time contents

    const auto row = [](const char *name, const QStringList &arguments, std::function<void(Options &)> change) {
        QTest::newRow(name) << arguments << change;
    };
    // A device frame becomes the command, as HEX bytes, sent without CR LF.
    const auto framed = [](const char *hex) {
        return [frame = QByteArray::fromHex(hex)](Options &o) {
            o.armCommand = true;
            o.command = commaSeparatedHex(frame);
            o.commandType = QStringLiteral("HEX");
            o.features.appendCrLf = false;
        };
    };
    row("no arguments: the window's load-time contents", args({}), [](Options &) {});
    row("ports stay texts, read later as if typed", args({"--in-port", "5000abc", "--out-port=-5"}),
        [](Options &o) { o.inPort = QStringLiteral("5000abc"); o.outPort = QStringLiteral("-5"); });
    row("relay to a host", args({"--relay", "--out-host", "server.example", "--out-port", "7000"}), [](Options &o) {
        o.relay = true;
        o.outHost = QStringLiteral("server.example");
        o.outPort = QStringLiteral("7000");
    });
    row("relayed hex command on connect",
        args({"--relay", "--command", "01, 02,0a", "--command-type", "HEX", "--send-on-connect"}), [](Options &o) {
            o.command = QStringLiteral("01, 02,0a");
            o.relay = o.armCommand = o.sendOnConnect = true;
            o.commandType = QStringLiteral("HEX");
        });
    row("typed command type, not in the list", args({"--command-type", "ascii", "--command", "AT"}), [](Options &o) {
        o.commandType = QStringLiteral("ascii");
        o.command = QStringLiteral("AT");
        o.armCommand = true;
    });
    row("an empty command is still armed", args({"--command", ""}), [](Options &o) { o.armCommand = true; });
    row("--send-on-connect alone arms nothing", args({"--send-on-connect"}), [](Options &o) { o.sendOnConnect = true; });
    row("capture folder, start, headless", args({"--capture-dir", "/tmp/c", "--start", "--headless"}), [](Options &o) {
        o.captureFolder = QStringLiteral("/tmp/c");
        o.start = o.headless = true;
    });
    row("features", args({"--relay", "--pass-answers", "--protocol", "GT06", "--auto-ack", "--no-crlf",
                          "--session-index", "--listen-address", "127.0.0.1", "--decode"}),
        [](Options &o) {
            o.relay = o.features.passAnswers = o.features.acknowledge = o.features.sessionIndex = true;
            o.features.decode = true;
            o.features.protocol = ProtocolChoice::only(TrackerProtocol::GT06);
            o.features.appendCrLf = false;
            o.features.listenAddress = QStringLiteral("127.0.0.1");
        });
    row("many trackers and their mirrors",
        args({"--max-trackers", "3", "--mirror", "127.0.0.1:6001", "--mirror", "backup.example:6002"}), [](Options &o) {
            o.features.maxTrackers = 3;
            o.features.mirrors = QStringList{QStringLiteral("127.0.0.1:6001"), QStringLiteral("backup.example:6002")};
        });
    row("UDP", args({"--udp", "--udp-idle", "60"}), [](Options &o) {
        o.features.udp = true;
        o.features.udpIdleSeconds = 60;
    });
    row("live view", args({"--web", "0.0.0.0:8080", "--web-token", "0123456789abcdef"}), [](Options &o) {
        o.web = WebSettings{QHostAddress(QHostAddress::AnyIPv4), 8080, QStringLiteral("0123456789abcdef")};
    });
    // The two examples of the command frame's help, an ASCII and a HEX payload.
    row("Codec 12 frame", args({"--command", "getinfo", "--command-frame", "codec12"}),
        framed("000000000000000F0C010500000007676574696E666F0100004312"));
    row("GT06 frame of hex bytes",
        args({"--command", "52,65,6C,61,79,2C,31,23", "--command-type", "HEX", "--command-frame", "Gt06"}),
        framed("787812800c0000000052656c61792c312300009dee0d0a"));
}

void tst_CommandLine::presets()
{
    QFETCH(QStringList, arguments);
    QFETCH(std::function<void(Options &)>, change);
    if (arguments.contains(QStringLiteral("--web")) && !LiveViewService::available())
        QSKIP("This build has no live view.");
    const CommandLine commandLine = parseCommandLine(arguments);
    QVERIFY2(commandLine.run, qPrintable(commandLine.output));
    const Options &options = commandLine.options;
    Options expected;
    expected.captureFolder = defaultCaptureFolder();
    change(expected);
    const auto values = [](const Options &o) {
        const CaptureFeatures &f = o.features;
        return std::tuple(o.inPort, o.outPort, o.outHost, o.relay, o.sendOnConnect, o.armCommand, o.command,
                          o.commandType, o.captureFolder, o.start, o.headless, f.passAnswers, f.protocol,
                          f.acknowledge, f.appendCrLf, f.sessionIndex, f.listenAddress, f.decode, f.maxTrackers,
                          f.mirrors,
                          o.web ? o.web->address.toString() + QString::number(o.web->port) + o.web->token : QString());
    };
    QCOMPARE(values(options), values(expected));

    // The window and the headless front end start from these values.
    QTemporaryDir folder;
    const std::unique_ptr<SocketsLibrary> sockets = systemSocketsLibrary();
    HeadlessFrontEnd headless(options, *sockets);
    AnalyzerFrm window(folder.path(), *sockets);
    applyPresets(window, options);
    const std::pair<Control, QString> texts[] = {
        {Control::InPort, options.inPort},   {Control::OutPort, options.outPort},
        {Control::OutHost, options.outHost}, {Control::Command, options.command},
        {Control::CommandType, options.commandType}};
    for (const auto &[control, text] : texts) {
        QCOMPARE(window.text(control), text);
        QCOMPARE(headless.text(control), text);
    }
    const std::pair<Control, bool> checks[] = {{Control::SendOnConnect, options.sendOnConnect},
                                               {Control::AutoSend, options.armCommand},
                                               {Control::RelaySwitch, options.relay}};
    for (const auto &[control, on] : checks) {
        QCOMPARE(window.value(control), on ? CheckValue::Ticked : CheckValue::Clear);
        QCOMPARE(headless.value(control), window.value(control));
    }
    const CaptureFeatures shown = window.features();
    QCOMPARE(std::tuple(shown.passAnswers, shown.protocol, shown.acknowledge, shown.appendCrLf, shown.sessionIndex,
                        shown.maxTrackers, shown.mirrors),
             std::tuple(options.features.passAnswers, options.features.protocol, options.features.acknowledge,
                        options.features.appendCrLf, options.features.sessionIndex, options.features.maxTrackers,
                        options.features.mirrors));
    QCOMPARE(headless.features().protocol, options.features.protocol);
}

void tst_CommandLine::immediateExit_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("toStandardError");
    QTest::addColumn<QString>("firstLine");

    const QString usage = QStringLiteral("Usage: gps-analyzer [options]");
    QTest::newRow("--help") << args({"--help"}) << 0 << false << usage;
    QTest::newRow("--version") << args({"--version"}) << 0 << false
                               << QStringLiteral("gps-analyzer ") + QStringLiteral(GPSA_VERSION);
    QTest::newRow("unknown option") << args({"--bogus"}) << 2 << true
                                    << QStringLiteral("gps-analyzer: Unknown option 'bogus'.");
    QTest::newRow("missing value") << args({"--in-port"}) << 2 << true
                                   << QStringLiteral("gps-analyzer: Missing value after '--in-port'.");
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
    QTest::newRow("command frame of no hex bytes")
        << args({"--command", "4A,ZZ", "--command-type", "HEX", "--command-frame", "nmea"}) << 2 << true
        << QStringLiteral("gps-analyzer: the command's element 'ZZ' is no hexadecimal byte.");
    QTest::newRow("UDP idle without UDP") << args({"--udp-idle", "60"}) << 2 << true
                                          << QStringLiteral("gps-analyzer: --udp-idle is the idle time of UDP peers, "
                                                            "which needs --udp.");
    QTest::newRow("UDP idle of no time") << args({"--udp", "--udp-idle", "0"}) << 2 << true
                                         << QStringLiteral("gps-analyzer: --udp-idle takes a number of seconds from 1 "
                                                           "to 86400.");
    QTest::newRow("no trackers") << args({"--max-trackers", "0"}) << 2 << true
                                 << QStringLiteral("gps-analyzer: --max-trackers takes a number from 1 to 10000.");
    QTest::newRow("a mirror without a port") << args({"--mirror", "backup.example"}) << 2 << true
                                             << QStringLiteral("gps-analyzer: --mirror takes HOST:PORT, such as "
                                                               "127.0.0.1:5002.");
    QTest::newRow("five mirrors") << args({"--mirror", "a:1", "--mirror", "b:1", "--mirror", "c:1", "--mirror", "d:1",
                                          "--mirror", "e:1"})
                                  << 2 << true << QStringLiteral("gps-analyzer: --mirror can be given up to 4 times.");
    QTest::newRow("command too long for its frame")
        << args({"--command", QByteArray(246, 'A').constData(), "--command-frame", "gt06"}) << 2 << true
        << QStringLiteral("gps-analyzer: --command-frame gt06: The command is 246 bytes long; GT06 frames hold at most 245.");
    QTest::newRow("live view token alone") << args({"--web-token", "0123456789abcdef"}) << 2 << true
                                           << QStringLiteral("gps-analyzer: --web-token goes with --web.");
    QTest::newRow("live view on a name") << args({"--web", "localhost:8080"}) << 2 << true
                                         << QStringLiteral("gps-analyzer: --web: expected [ADDRESS:]PORT");
    QTest::newRow("live view token too short") << args({"--web", "8080", "--web-token", "abc"}) << 2 << true
                                               << QStringLiteral("gps-analyzer: --web-token: a token is 16 to 256");
}

void tst_CommandLine::immediateExit()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(bool, toStandardError);
    QFETCH(QString, firstLine);
    if (arguments.contains(QStringLiteral("--web")) && !LiveViewService::available())
        firstLine = QStringLiteral("gps-analyzer: --web: this build of gps-analyzer has no live view");

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

void tst_CommandLine::openFilesLimit()
{
    // The soft limit is raised to the hard one, and what is needed beyond it is a usage error.
#ifdef Q_OS_WIN
    QSKIP("Windows counts no sockets against a limit of open files");
#else
    rlimit limit{1024, 1024};
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    QVERIFY(parseCommandLine(args({"--max-trackers", "300", "--relay", "--mirror", "h:1"})).run);
    const CommandLine tooMany = parseCommandLine(args({"--max-trackers", "9000", "--relay"}));
    QCOMPARE(tooMany.exitStatus, 2);
    QCOMPARE(tooMany.output.section(QLatin1Char('\n'), 0, 0),
             QStringLiteral("gps-analyzer: --max-trackers 9000 needs about 18,100 open files; this system "
                            "allows 1,024."));
#endif
}

QTEST_MAIN(tst_CommandLine)
#include "tst_commandline.moc"
