// The real program as a child process: headless against a fake tracker and a fake OUT server
// on loopback, and its window on the offscreen platform.

#include "capturefolder.h"
#include "globalmodule.h"
#include "socketslibrary.h"
#include "loopbacksocket.h"
#include "outservers.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <memory>
#include <thread>

namespace {

const QByteArray ConnectedLine = "Tracker 127.0.0.1 connected.\r\n";
const QByteArray DisconnectedLine = "Tracker 127.0.0.1 disconnected.\r\n";

// The real gps-analyzer program as a child process, keeping everything it writes to standard
// output and standard error; killed, if need be, when it goes. No X or Wayland display and no platform plugin is asked for: the
// headless program, --help and --version must need none; the window gets the offscreen one.
class AnalyzerProcess final
{
public:
    explicit AnalyzerProcess(bool offscreenWindow = false)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        if (offscreenWindow)
            environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
    }
    QByteArray output() { return m_output += process.readAllStandardOutput(); }
    QByteArray errors() { return m_errors += process.readAllStandardError(); }
    // Standard output decoded from UTF-8 from the start line on (status lines of the
    // local-address lookup, if the host has problems with its name, stand before it), with the
    // timestamp at the start of each line shown as '@': what comes before the seconds' colon
    // (and AM or PM on a clock of 12 hours).
    QString paneText()
    {
        static const QRegularExpression timestamp(
            QStringLiteral("^[^\\r\\n]*?\\d\\d?:\\d\\d:\\d\\d(?: ?[AaPp]\\.?[Mm]\\.?)?(?=:)"),
            QRegularExpression::MultilineOption);
        const QString text = QString::fromUtf8(output());
        return text.mid(text.indexOf(QStringLiteral("Listening on TCP port "))).replace(timestamp, QStringLiteral("@"));
    }
    // Spins the event loop until standard output holds the text, or the time is up.
    bool waitForOutput(const QByteArray &text)
    {
        (void)QTest::qWaitFor([&] { return output().contains(text) || process.state() == QProcess::NotRunning; },
                              30000);
        return output().contains(text);
    }
    // The exit status once the program has ended; -1 if it crashed or still runs.
    int exitStatus()
    {
        const bool ended = QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 30000);
        (void)output();
        (void)errors();
        return ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    void sendSignal(int signalNumber) { ::kill(pid_t(process.processId()), signalNumber); }

    QProcess process;

private:
    QByteArray m_output;
    QByteArray m_errors;
};

// Arguments written as one text, separated by blanks.
QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// The last line of a text, without its line end.
QString lastLine(const QByteArray &text)
{
    return QString::fromUtf8(text).trimmed().section(QLatin1Char('\n'), -1);
}

} // namespace

class tst_Headless final : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void endings_data();
    void endings();
    void captureAndRelay();
    void trackersAtOnceNamedInTheirLines();
    void failedRelayEndsTheProgram();
    void decodes();
    void signalsEndCleanly_data();
    void signalsEndCleanly();
    void windowStartPressesTheButton();

private:
    // Starts the program on a fresh IN port with the test's capture folder.
    void start(AnalyzerProcess &analyzer, const QStringList &arguments)
    {
        m_inPort = LoopbackSocket::freePort();
        analyzer.process.start(QStringLiteral(GPSA_ANALYZER_BINARY), words("--capture-dir") << m_folder->path()
                                   << QStringLiteral("--in-port") << QString::number(m_inPort) << arguments);
    }
    // A fake tracker connected to the IN port once the program has logged it.
    bool connectTracker(AnalyzerProcess &analyzer, QTcpSocket &tracker)
    {
        tracker.connectToHost(QHostAddress::LocalHost, m_inPort);
        return analyzer.waitForOutput(ConnectedLine);
    }
    QByteArray listeningLine() const { return "Listening on TCP port " + QByteArray::number(m_inPort) + "\r\n"; }
    QByteArray captured(int port) const { return CaptureFolder(m_folder->path()).joined(port); }

    // A fresh capture folder for each test: a run continues the numbers found in its folder.
    std::unique_ptr<QTemporaryDir> m_folder;
    quint16 m_inPort = 0;
};

void tst_Headless::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    QVERIFY(m_folder->isValid());
}

void tst_Headless::endings_data()
{
    QTest::addColumn<QStringList>("arguments"); // %IN stands for a free port, %IN+ for a port in use
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output");        // the beginning of standard output
    QTest::addColumn<QString>("message");       // the beginning of standard error's last line

    const auto row = [](const char *name, const char *arguments, int status, const char *output, const char *message) {
        QTest::newRow(name) << words(arguments) << status << QString::fromUtf8(output) << QString::fromUtf8(message);
    };
    row("--version", "--version", 0, "gps-analyzer " GPSA_VERSION "\n", "");
    row("unknown option", "--bogus", 2, "", "gps-analyzer: Unknown option 'bogus'.\nUsage:");
    row("IN port 1", "--in-port 1", 1, "", "Error: Invalid input port number. Use between 1 and 65535");
    row("IN port beyond 32 bits", "--in-port 99999999999", 1, "", "Run-time error '6': Overflow");
    row("OUT port same as IN port", "--relay --in-port %IN --out-port %IN", 1, "",
        "Error: Input port cannot be same as output port!");
    row("IN port in use", "--in-port %IN+", 1, "", "Error on input socket!: Address in use");
}

void tst_Headless::endings()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, output);
    QFETCH(QString, message);
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::LocalHost, 0));
    arguments.replaceInStrings(QStringLiteral("%IN+"), QString::number(occupant.serverPort()));
    arguments.replaceInStrings(QStringLiteral("%IN"), QString::number(LoopbackSocket::freePort()));
    AnalyzerProcess analyzer;
    start(analyzer, words("--headless") + arguments);
    QCOMPARE(analyzer.exitStatus(), status);
    QVERIFY2(analyzer.output().startsWith(output.toUtf8()), analyzer.output().constData());
    // A usage error begins standard error; a failure's message ends it.
    const QByteArray told = status == 2 ? analyzer.errors() : lastLine(analyzer.errors()).toUtf8();
    QVERIFY2(told.startsWith(message.toUtf8()), analyzer.errors().constData());
    QVERIFY(!analyzer.output().contains("Listening"));
}

void tst_Headless::captureAndRelay()
{
    // With a hex command, one element of it illegal, sent on connect.
    FakeOutServer outServer;
    AnalyzerProcess analyzer;
    start(analyzer, words("--headless --relay --command 1,41 --command-type HEX --send-on-connect --out-port")
                        << QString::number(outServer.port()));
    QVERIFY(analyzer.waitForOutput(listeningLine()));
    QTRY_VERIFY_WITH_TIMEOUT(outServer.connection != nullptr, 30000);
    QTcpSocket tracker;
    QVERIFY(connectTracker(analyzer, tracker));
    QByteArray received;
    QTRY_COMPARE_WITH_TIMEOUT((received += tracker.readAll()), QByteArray("A\r\n"), 30000);
    const QByteArray chunk("$GP\x1b\0\xff,12\r\n", 11);
    tracker.write(chunk);
    QTRY_COMPARE_WITH_TIMEOUT(outServer.received, chunk, 30000);
    QVERIFY(analyzer.waitForOutput(":  IN (HEXAD):"));
    outServer.connection->write("OK\0", 3);
    QVERIFY(analyzer.waitForOutput(":  -> (HEXAD):4F4B 0\r\n"));
    tracker.disconnectFromHost();
    QVERIFY(analyzer.waitForOutput(DisconnectedLine));

    // Every line as it entered its pane, with its CR LF and its timestamp (@); bytes 128 to
    // 255 in UTF-8.
    QCOMPARE(analyzer.paneText(),
             QString::fromLatin1(listeningLine() + ConnectedLine) +
                 QStringLiteral(u"@: ILLEGAL (HEXAD):1\r\n@: OUT (HEXAD):A\r\n"
                                u"@:  IN (ASCII):$GP\u001b \u00ff,12\r\n\r\n@:  IN (HEXAD):2447501B 0FF2C3132 D A\r\n"
                                u"@:  -> (ASCII):OK \r\n@:  -> (HEXAD):4F4B 0\r\n") +
                 QString::fromLatin1(DisconnectedLine));
    QVERIFY(analyzer.output().contains(QByteArray("\x1b \xc3\xbf,12\r\n\r\n")));
    QCOMPARE(captured(m_inPort), chunk);
    QCOMPARE(captured(outServer.port()), QByteArray("OK\0", 3));
    QCOMPARE(received + tracker.readAll(), QByteArray("A\r\n")); // armed once; the answer is captured only

    analyzer.sendSignal(SIGTERM);
    QCOMPARE(analyzer.exitStatus(), 0);
    // The address that the window would show, found the same way, on standard error.
    const std::unique_ptr<SocketsLibrary> sockets = systemSocketsLibrary();
    const auto ignore = [](const QString &) {};
    const QString address = GLOBALModule({ignore, ignore}, *sockets).GetLocalIPAddress();
    QCOMPARE(QString::fromUtf8(analyzer.errors()), QStringLiteral("This computer's IP: %1\n").arg(address));
}

void tst_Headless::trackersAtOnceNamedInTheirLines()
{
    const quint16 down = LoopbackSocket::freePort();
    AnalyzerProcess analyzer;
    start(analyzer, words("--headless --max-trackers 2 --mirror") << QStringLiteral("127.0.0.1:%1").arg(down));
    QVERIFY(analyzer.waitForOutput(listeningLine()));
    QTcpSocket first, second;
    for (QTcpSocket *tracker : {&first, &second}) {
        tracker->connectToHost(QHostAddress::LocalHost, m_inPort);
        QVERIFY(tracker->waitForConnected());
        const QByteArray name = "127.0.0.1:" + QByteArray::number(tracker->localPort());
        QVERIFY(analyzer.waitForOutput("Tracker " + name + " connected.\r\n"));
        tracker->write(name);
        QVERIFY(analyzer.waitForOutput(":  IN " + name + " (ASCII):" + name + "\r\n"));
    }
    const QByteArray name = "127.0.0.1:" + QByteArray::number(first.localPort());
    first.disconnectFromHost();
    QVERIFY(analyzer.waitForOutput("Tracker " + name + " disconnected.\r\nMirror 127.0.0.1:" +
                                   QByteArray::number(down) + " missed " + QByteArray::number(name.size()) +
                                   " bytes of tracker " + name + ".\r\n"));
    QCOMPARE(CaptureFolder(m_folder->path()).problem(), QString());
}

void tst_Headless::failedRelayEndsTheProgram()
{
    // The OUT server refuses the connection: the first chunk is captured, then the relay fails.
    // The session index records the chunk.
    AnalyzerProcess analyzer;
    start(analyzer, words("--headless --session-index --relay --out-port") << QString::number(LoopbackSocket::freePort()));
    QVERIFY(analyzer.waitForOutput(listeningLine()));
    QTcpSocket tracker;
    QVERIFY(connectTracker(analyzer, tracker));
    tracker.write("lost?");
    QCOMPARE(analyzer.exitStatus(), 1);
    QVERIFY2(lastLine(analyzer.errors()).startsWith(QStringLiteral("Error sending to output socket!: ")),
             analyzer.errors().constData());
    QVERIFY(analyzer.paneText().endsWith(QStringLiteral("@:  IN (ASCII):lost?\r\n@:  IN (HEXAD):6C6F73743F\r\n")));
    QCOMPARE(captured(m_inPort), QByteArray("lost?"));
    const QByteArray index = CaptureFolder::contents(m_folder->filePath(QStringLiteral("index.tsv")));
    QVERIFY2(index.contains("\tin\t127.0.0.1:") && index.contains("\t5\tx0001_"), index.constData());
}

void tst_Headless::decodes()
{
    // Two runs on one folder, the second naming the protocol: each report a POS line after its
    // chunk's lines (the first run detects the protocol), and a line of positions.csv, whose header the second run does not repeat.
    // Traccar Gps103ProtocolDecoderTest: a report with the position it asserts.
    const QByteArray report = "imei:359710045559474,tracker,151030080103,,F,000101.000,A,5443.3834,N,02512.9071,E,0.00,0;";
    for (const char *protocol : {"auto", "tk103"}) {
        AnalyzerProcess analyzer;
        start(analyzer, words("--headless --decode --protocol") << QString::fromLatin1(protocol));
        QVERIFY(analyzer.waitForOutput(listeningLine()));
        QTcpSocket tracker;
        QVERIFY(connectTracker(analyzer, tracker));
        tracker.write(report);
        QVERIFY(analyzer.waitForOutput(": POS: "));
        QVERIFY2(analyzer.paneText().endsWith(QString::fromLatin1(report.toHex().toUpper()) +
                                              QStringLiteral(u"\r\nTracker 127.0.0.1 speaks TK103, device 359710045559474.\r\n"
                                                             u"@: POS: TK103 359710045559474 2015-10-30T00:01:01Z valid "
                                                             u"54.7230567,25.2151183 0 km/h 0\u00b0 keyword=tracker\r\n")),
                 analyzer.output().constData());
        analyzer.sendSignal(SIGTERM);
        QCOMPARE(analyzer.exitStatus(), 0);
    }
    const QList<QByteArray> lines = CaptureFolder::contents(m_folder->filePath(QStringLiteral("positions.csv"))).split('\n');
    QCOMPARE(lines.size(), 4);
    QVERIFY(lines[0].startsWith("number,time,peer,device,protocol,"));
    QVERIFY2(lines[2].startsWith("2,20") && lines[2].endsWith(",359710045559474,TK103,location,2015-10-30T00:01:01Z,1,"
                                                              "54.7230567,25.2151183,,0,0,,keyword=tracker\r"),
             lines[2].constData());
}

void tst_Headless::signalsEndCleanly_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void tst_Headless::signalsEndCleanly()
{
    // The OUT server lags behind, so that the relay holds bytes queued for it when the signal
    // comes: they still go out, every one, before the program ends with status 0.
    QFETCH(int, signalNumber);
    const QByteArray trackerBytes = LoopbackSocket::randomBytes(24 * 1024 * 1024, 7001);
    ThreadedOutServer out(trackerBytes, QByteArray());
    out.setReading(false);
    AnalyzerProcess analyzer;
    // Standard output would hold the program back as soon as the test stops reading it.
    analyzer.process.setChildProcessModifier([] { ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO); });
    start(analyzer, words("--headless --relay --out-port") << QString::number(out.port()));
    std::jthread tracker([port = m_inPort, &trackerBytes](const std::stop_token &stop) {
        LoopbackSocket connection = LoopbackSocket::connectTo(port);
        connection.sendAll(trackerBytes, stop);
        while (!stop.stop_requested())
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
    // The tracker is held back once enough waits for the OUT server: the captures stop growing.
    qint64 capturedBefore = -1;
    int stable = 0;
    for (const QDeadlineTimer deadline(30000); stable < 5 && !deadline.hasExpired(); QTest::qWait(100)) {
        const qint64 now = captured(m_inPort).size();
        stable = now > 0 && now == capturedBefore ? stable + 1 : 0;
        capturedBefore = now;
    }
    QCOMPARE(stable, 5);
    analyzer.sendSignal(signalNumber);
    out.setReading(true);
    QCOMPARE(analyzer.exitStatus(), 0);
    QVERIFY2(capturedBefore > 4 * 1024 * 1024, qPrintable(QString::number(capturedBefore)));
    QTRY_COMPARE(out.received(), captured(m_inPort).size());
    QCOMPARE(out.firstMismatch(), qint64(-1));
    tracker.request_stop();
}

void tst_Headless::windowStartPressesTheButton()
{
    // The window on the offscreen platform: --start presses the start button once it is shown,
    // with the presets of the command line in its controls.
    AnalyzerProcess analyzer(true);
    start(analyzer, words("--start --command getinfo --command-frame codec12 --send-on-connect"));
    QTcpSocket tracker;
    const auto connected = [&] {
        tracker.abort();
        tracker.connectToHost(QHostAddress::LocalHost, m_inPort);
        return tracker.waitForConnected(1000);
    };
    QVERIFY(QTest::qWaitFor(connected, 30000));
    // The presets reached the window: the Codec 12 frame goes out on connect, exactly the
    // bytes of Teltonika's published getinfo example, with no CR LF or anything else after it.
    const QByteArray frame = QByteArray::fromHex("000000000000000F0C010500000007676574696E666F0100004312");
    QByteArray received;
    QTRY_COMPARE_WITH_TIMEOUT((received += tracker.readAll()), frame, 30000);
    QVERIFY(!tracker.waitForReadyRead(300));

    // SIGTERM ends the window as closing it does.
    analyzer.sendSignal(SIGTERM);
    QCOMPARE(analyzer.exitStatus(), 0);
}

QTEST_GUILESS_MAIN(tst_Headless)
#include "tst_headless.moc"
