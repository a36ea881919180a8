#include "exportcommand.h"
#include "loopbacksocket.h"
#include "replaycommand.h"
#include "sessionfolder.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

using Streams = QMap<QString, QByteArray>; // "FROM>TO" → every byte sent that way

namespace {

const QString Tracker1 = u"127.0.0.1:40312"_s;
const QString Tracker2 = u"127.0.0.1:40313"_s;
const QString Analyzer = u"127.0.0.1:5000"_s;
const QString OutServer = u"127.0.0.1:5001"_s;
const QString RelayEnd = u"127.0.0.1:49152"_s; // PcapExport::RelayPortBase, first run

// The NMEA 0183 RMC example sentence, as trackers of the NMEA kind send it.
const QByteArray Rmc = "$GPRMC,123519,A,4807.038,N,01131.000,E*6A\r\n";
const QByteArray Ping = "*PING#\r\n";
const QByteArray Ack = "ACK\r\n";
const QByteArray Big = LoopbackSocket::randomBytes(5000, 1); // four segments

// Two tracker connections through a relay: the first with a command, an answer passed on to the
// tracker, a chunk of several segments and a reset; the second with an orderly close.
void recordTwoSessions(SessionFolder &f)
{
    f.add(Kind::Listen, 0, {}, 5000, {}, u"relay to "_s + OutServer);
    f.add(Kind::Connect, 1'000'000, Tracker1, 5000, {}, u"local "_s + Analyzer);
    f.add(Kind::In, 1'100'000, Tracker1, 5000, Rmc);
    f.add(Kind::Cmd, 1'100'010, Tracker1, 5000, Ping);
    f.add(Kind::Out, 1'200'000, OutServer, 5001, Ack);
    f.add(Kind::Pass, 1'200'100, Tracker1, 5000, Ack);
    f.add(Kind::In, 2'000'000, Tracker1, 5000, Big);
    f.add(Kind::Error, 3'000'000, Tracker1, 5000, {}, u"10054 Connection is reset by remote side"_s);
    f.add(Kind::Connect, 4'000'000, Tracker2, 5000, {}, u"local "_s + Analyzer);
    f.add(Kind::In, 4'500'000, Tracker2, 5000, "second");
    f.add(Kind::Disconnect, 5'000'000, Tracker2, 5000);
}

// tshark's own reading of a capture: what went each way, the times of the first and the last
// packet, and the packets it warns of other than a reset (bad checksums, lost or unseen segments).
struct TsharkReading
{
    Streams streams;
    qint64 firstUs = -1;
    qint64 lastUs = -1;
    QStringList problems;
};

TsharkReading readWithTshark(const QString &tshark, const QString &file)
{
    QProcess process;
    process.start(tshark, QStringList{u"-r"_s, file} + u"-o tcp.check_checksum:TRUE -o ip.check_checksum:TRUE -T "
                                                       "fields -e frame.time_epoch -e ip.src -e tcp.srcport -e ip.dst "
                                                       "-e tcp.dstport -e tcp.payload -e tcp.flags.reset -e "
                                                       "_ws.expert.severity"_s.split(QLatin1Char(' ')));
    process.waitForFinished(60000);
    TsharkReading reading;
    const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> f = line.split('\t');
        if (f.size() != 8)
            continue;
        reading.lastUs = QByteArray(f[0]).replace('.', QByteArray()).chopped(3).toLongLong(); // from ns
        reading.firstUs = reading.firstUs < 0 ? reading.lastUs : reading.firstUs;
        if (!f[5].isEmpty())
            reading.streams[QString::fromLatin1(f[1] + ':' + f[2] + '>' + f[3] + ':' + f[4])] += QByteArray::fromHex(f[5]);
        // Expert severities: 6291456 a warning, as a reset is; 8388608 an error.
        if (f[7].contains("8388608") || (f[7].contains("6291456") && f[6] != "1"))
            reading.problems.append(QString::fromLatin1(line));
    }
    return reading;
}

} // namespace

class TestSessionExport final : public QObject
{
    Q_OBJECT

private slots:
    void streamsAsTsharkReadsThem_data();
    void streamsAsTsharkReadsThem();
    void refused_data();
    void refused();
};

void TestSessionExport::streamsAsTsharkReadsThem_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("wrote");
    QTest::addColumn<Streams>("expected");
    QTest::addColumn<qint64>("firstUs");

    const auto way = [](const QString &from, const QString &to) { return from + QLatin1Char('>') + to; };
    QTest::newRow("all sessions") << QStringList() << u"2 sessions"_s
                                  << Streams{{way(Tracker1, Analyzer), Rmc + Big},
                                             {way(Analyzer, Tracker1), Ping + Ack},
                                             {way(Tracker2, Analyzer), "second"},
                                             {way(RelayEnd, OutServer), Rmc + Big + "second"},
                                             {way(OutServer, RelayEnd), Ack}}
                                  << SessionFolder::Start;
    QTest::newRow("--session 2") << QStringList{u"--session"_s, u"2"_s} << u"1 session"_s
                                 << Streams{{way(Tracker2, Analyzer), "second"}, {way(RelayEnd, OutServer), "second"}}
                                 << SessionFolder::Start + 4'000'000;
}

// Through the program itself.
void TestSessionExport::streamsAsTsharkReadsThem()
{
    QFETCH(QStringList, options);
    QFETCH(QString, wrote);
    QFETCH(Streams, expected);
    QFETCH(qint64, firstUs);
    SessionFolder f;
    recordTwoSessions(f);
    const QString file = f.dir.filePath(u"out.pcap"_s);
    QProcess program;
    program.start(QStringLiteral(GPSA_ANALYZER_BINARY), QStringList{u"export"_s, u"-o"_s, file, u"--capture-dir"_s, f.dir.path()} + options);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(program.readAllStandardOutput(), u"Wrote %1 to %2.\n"_s.arg(wrote, file).toUtf8());

    const QString tshark = QStandardPaths::findExecutable(u"tshark"_s);
    if (tshark.isEmpty())
        QSKIP("tshark is not installed (apt-get install tshark): the export is not read back");
    const TsharkReading reading = readWithTshark(tshark, file);
    QCOMPARE(reading.problems, QStringList());
    QVERIFY(reading.streams == expected);
    // The handshake at the first recorded time, the close at the last.
    QCOMPARE(reading.firstUs, firstUs);
    QCOMPARE(reading.lastUs, SessionFolder::Start + 5'000'000);
}

// Exit status 1 for what the two sessions' folder (DIR) holds, named in one line, and no output
// file (OUT); exit status 2 and the usage for a wrong option, of either subcommand.
void TestSessionExport::refused_data()
{
    QTest::addColumn<QString>("arguments"); // split at spaces
    QTest::addColumn<QByteArray>("damage"); // what is missing or short, or a line added to the index
    QTest::addColumn<QString>("message");

    const auto row = [](const char *arguments, const char *message, const QByteArray &damage = {}) {
        QTest::newRow(damage.isEmpty() ? arguments : damage.constData())
            << QString::fromLatin1(arguments) << damage << QString::fromLatin1(message);
    };
    const char *const all = "export --capture-dir DIR -o OUT";
    row(all, "The capture folder DIR does not exist.", "folder");
    row(all, "DIR/index.tsv line 8: the capture file DIR/x0003_5000.dat holds 100 bytes, fewer than the 5000", "short");
    row(all, "DIR/index.tsv line 4: the capture file DIR/x0001_5000.dat cannot be read", "missing");
    row(all, "OUT cannot be written", "output");
    const QByteArray t = "2026-12-06T19:43:27.123456Z";
    const auto line = [&](const QByteArray &damage, const char *complaint) {
        row(all, "DIR/index.tsv line 13: "_ba + complaint, damage);
    };
    line("1\t" + t + "\tin\tp\t5000\t5\tf\t", "it has 8 fields");
    line("1\t" + t + "\tin\tp\t5000\t5\tf\t\t\t", "it has 10 fields");
    line("\t" + t + "\tinn\t\t\t\t\t\t", "'inn' is no event");
    line("\t2026-12-06T19:43:27Z\tin\t\t\t\t\t\t", "the time");
    line("\t2026-13-06T19:43:27.123456Z\tin\t\t\t\t\t\t", "the time");
    line("\t" + t + "\tin\t\t65536\t\t\t\t", "the port");
    line("1a\t" + t + "\tin\t\t\t\t\t\t", "the number");
    line("0\t" + t + "\tin\t\t\t\t\t\t", "the number");
    line("\t" + t + "\tcmd\t\t\t\t\tABC\t", "the bytes have an odd number");
    line("\t" + t + "\tcmd\t\t\t\t\tGG\t", "the bytes are not hexadecimal");
    line("\t" + t + "\tin\t\t\t\t\t\ta\\x", "the note has a backslash");
    line("\t" + t + "\tin\t\t\t\t\t\ta\\", "the note has a backslash");
    row("export", "-o FILE is needed");
    row("export -o x.pcap --session 0", "--session takes a number from 1");
    row("export -o x.pcap --in-port 70000", "--in-port takes a port");
    row("export -o x.pcap --relay", "Unknown option 'relay'");
    row("export -o x.pcap now", "unexpected argument 'now'");
    row("replay", "--to HOST:PORT is needed");
    row("replay --to 127.0.0.1", "--to takes HOST:PORT");
    row("replay --to 127.0.0.1:0", "--to takes HOST:PORT");
    row("replay --to 127.0.0.1:5001 --speed 0", "--speed takes a number above 0");
    row("replay --to 127.0.0.1:5001 --speed 2 --no-wait", "--speed and --no-wait exclude each other");
    row("replay --to 127.0.0.1:5001 --trackers 0", "--trackers takes a number from 1");
}

void TestSessionExport::refused()
{
    QFETCH(QString, arguments);
    QFETCH(QByteArray, damage);
    QFETCH(QString, message);
    SessionFolder f;
    recordTwoSessions(f);
    QTemporaryDir outputDir;
    QString folder = f.dir.path(), output = outputDir.filePath(u"out.pcap"_s);
    if (damage == "folder")
        folder = outputDir.filePath(u"no-such-folder"_s);
    else if (damage == "short")
        QVERIFY(QFile::resize(f.dir.filePath(u"x0003_5000.dat"_s), 100));
    else if (damage == "missing")
        QVERIFY(QFile::remove(f.dir.filePath(u"x0001_5000.dat"_s)));
    else if (damage == "output")
        output = outputDir.filePath(u"gone/out.pcap"_s);
    else if (!damage.isEmpty())
        f.write(u"index.tsv"_s, damage + '\n', QIODevice::Append);

    QStringList list = arguments.split(QLatin1Char(' '));
    list.replaceInStrings(u"DIR"_s, folder).replaceInStrings(u"OUT"_s, output);
    const Result r = runCommand(list[0] == "export"_L1 ? exportCommand : replayCommand, list);
    const int status = arguments.contains("DIR"_L1) ? 1 : 2;
    QCOMPARE(r.status, status);
    const QString expected = message.replace(u"DIR"_s, folder).replace(u"OUT"_s, output);
    QVERIFY2(r.errors.startsWith(u"gps-analyzer %1: %2"_s.arg(list[0], expected)), qPrintable(r.errors));
    QCOMPARE(r.errors.count(QLatin1Char('\n')) == 1, status == 1);
    QCOMPARE(r.errors.contains(u"Usage: gps-analyzer %1 [options]"_s.arg(list[0])), status == 2);
    QVERIFY(r.output.isEmpty());
    QCOMPARE(QDir(outputDir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

QTEST_GUILESS_MAIN(TestSessionExport)
#include "tst_sessionexport.moc"
