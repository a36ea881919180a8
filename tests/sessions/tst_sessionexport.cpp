#include "exportcommand.h"
#include "sessionfolder.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

using Streams = QMap<QString, QByteArray>; // "FROM>TO" → every byte sent that way

namespace {

const QByteArray Time = "2026-12-06T19:43:27.123456Z"; // a right time for an index line
// What tshark prints of each packet, between tabs: of a TCP segment or of a UDP datagram.
const QString TsharkFields =
    u"-T fields -e frame.time_epoch -e ip.src -e tcp.srcport -e udp.srcport -e ip.dst -e tcp.dstport "
    "-e udp.dstport -e tcp.payload -e udp.payload -e tcp.flags.reset -e _ws.expert.severity"_s;

// tshark's own reading of a capture: what went each way, the times of the first and the last
// packet, and the packets it warns of other than a reset (bad checksums, lost or unseen segments).
Streams readWithTshark(const QString &tshark, const QString &file, qint64 &firstUs, qint64 &lastUs,
                       QStringList &problems)
{
    QProcess process;
    process.start(tshark, QStringList{u"-r"_s, file, u"-o"_s, u"tcp.check_checksum:TRUE"_s, u"-o"_s,
                                      u"ip.check_checksum:TRUE"_s, u"-o"_s, u"udp.check_checksum:TRUE"_s} +
                              TsharkFields.split(QLatin1Char(' ')));
    process.waitForFinished(60000);
    Streams streams;
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        QList<QByteArray> f = line.split('\t');
        if (f.size() != 11)
            continue;
        f = {f[0], f[1], f[2] + f[3], f[4], f[5] + f[6], f[7] + f[8], f[9], f[10]}; // TCP's or UDP's
        lastUs = QByteArray(f[0]).replace('.', QByteArray()).chopped(3).toLongLong(); // from nanoseconds
        firstUs = firstUs < 0 ? lastUs : firstUs;
        if (!f[5].isEmpty())
            streams[QString::fromLatin1(f[1] + ':' + f[2] + '>' + f[3] + ':' + f[4])] +=
                QByteArray::fromHex(f[5]);
        // Expert severities: 6291456 a warning, as a reset is; 8388608 an error.
        if (f[7].contains("8388608") || (f[7].contains("6291456") && f[6] != "1"))
            problems.append(QString::fromLatin1(line));
    }
    return streams;
}

} // namespace

class tst_SessionExport final : public QObject
{
    Q_OBJECT

private slots:
    void streamsAsTsharkReadsThem_data();
    void streamsAsTsharkReadsThem();
    void refused_data();
    void refused();
};

void tst_SessionExport::streamsAsTsharkReadsThem_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("wrote");
    QTest::addColumn<Streams>("expected");
    QTest::addColumn<qint64>("firstUs");
    QTest::addColumn<qint64>("lastUs");
    QTest::addColumn<QString>("folder"); // the two runs, the fleet's run or the UDP run

    // The relay of each run goes from RelayPortBase + the run's position in the index.
    const Streams second{{u"127.0.0.1:40313>127.0.0.1:6000"_s, "onetwothree"},
                         {u"127.0.0.1:49153>127.0.0.1:5001"_s, "onetwothree"}};
    Streams all{{u"127.0.0.1:40312>127.0.0.1:5000"_s, Rmc + Big},
                {u"127.0.0.1:5000>127.0.0.1:40312"_s, Ping + Ack},
                {u"127.0.0.1:49152>127.0.0.1:5001"_s, Rmc + Big},
                {u"127.0.0.1:5001>127.0.0.1:49152"_s, Ack + "late"}};
    all.insert(second);
    // The highest and the lowest IN port, for a folder without an index, are accepted and left
    // unused here.
    const qint64 end = SessionFolder::Start + 5'600'000;
    QTest::newRow("all sessions") << QStringList{u"--in-port"_s, u"65535"_s} << u"2 sessions"_s << all
                                  << SessionFolder::Start << end << u"two runs"_s;
    QTest::newRow("--session 2") << QStringList{u"--session"_s, u"2"_s, u"--in-port"_s, u"1"_s} << u"1 session"_s
                                 << second << SessionFolder::Start + 5'000'000 << end << u"two runs"_s;
    // Each tracker of a fleet with its own relay, from the analyzer's end its answers name.
    QTest::newRow("a fleet") << QStringList() << u"2 sessions"_s
                             << Streams{{u"127.0.0.1:40312>127.0.0.1:7000"_s, "a1a2"},
                                        {u"127.0.0.1:7000>127.0.0.1:40312"_s, "A1"},
                                        {u"127.0.0.1:40313>127.0.0.1:7000"_s, "b1"},
                                        {u"127.0.0.1:50001>127.0.0.1:5001"_s, "a1a2"},
                                        {u"127.0.0.1:5001>127.0.0.1:50001"_s, "A1"},
                                        {u"127.0.0.1:50002>127.0.0.1:5001"_s, "b1"},
                                        {u"127.0.0.1:5001>127.0.0.1:50002"_s, "B1"}}
                             << SessionFolder::Start + 1'000'000 << SessionFolder::Start + 3'000'000 << u"fleet"_s;
    // A UDP peer's datagrams at the index's times, and its relay from its own socket.
    QTest::newRow("UDP") << QStringList() << u"1 session"_s
                         << Streams{{u"127.0.0.1:40312>127.0.0.1:8000"_s, Rmc + Big},
                                    {u"127.0.0.1:8000>127.0.0.1:40312"_s, Ack + "late"},
                                    {u"127.0.0.1:50001>127.0.0.1:5001"_s, Rmc + Big},
                                    {u"127.0.0.1:5001>127.0.0.1:50001"_s, "late"}}
                         << SessionFolder::Start + 1'000'010 << SessionFolder::Start + 2'100'100 << u"udp"_s;
}

// Through the program itself.
void tst_SessionExport::streamsAsTsharkReadsThem()
{
    QFETCH(QStringList, options);
    QFETCH(QString, wrote);
    QFETCH(Streams, expected);
    QFETCH(qint64, firstUs);
    QFETCH(qint64, lastUs);
    QFETCH(QString, folder);
    if (!GPSA_HAVE_PCAP)
        QSKIP("built without libpcap: the export says that it needs Npcap (tools/windows/test.sh checks it)");
    SessionFolder f;
    folder == u"fleet"_s ? f.recordFleet() : folder == u"udp"_s ? f.recordUdp() : f.recordTwoRuns();
    const QString file = f.dir.filePath(u"out.pcap"_s);
    QProcess program;
    program.start(QStringLiteral(GPSA_ANALYZER_BINARY),
                  QStringList{u"export"_s, u"-o"_s, file, u"--capture-dir"_s, f.dir.path()} + options);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(program.readAllStandardOutput(), u"Wrote %1 to %2.\n"_s.arg(wrote, file).toUtf8());

    const QString tshark = QStandardPaths::findExecutable(u"tshark"_s);
#ifdef Q_OS_LINUX
    QVERIFY2(!tshark.isEmpty(), "tshark, which tools/install-deps.sh installs, is missing");
#else
    if (tshark.isEmpty())
        QSKIP("tshark is not installed: the export is not read back");
#endif
    qint64 first = -1, last = -1;
    QStringList problems;
    QVERIFY(readWithTshark(tshark, file, first, last, problems) == expected);
    QCOMPARE(problems, QStringList());
    QCOMPARE(first, firstUs);                         // the handshake at the first recorded time
    QCOMPARE(last, lastUs); // the close at the last
}

// Exit status 1 for what the two runs' folder (@DIR) holds, named in one line, and no output
// file (@OUT) left; exit status 2 and the usage for a wrong option. @GONE is a missing folder.
void tst_SessionExport::refused_data()
{
    QTest::addColumn<QString>("arguments"); // split at spaces
    QTest::addColumn<QByteArray>("damage"); // a file cut short or removed, or a line added to the index
    QTest::addColumn<QString>("message");

    const auto row = [](const char *arguments, const QByteArray &message, const QByteArray &damage = "") {
        QTest::newRow(damage.isEmpty() ? arguments : damage.constData())
            << QString::fromLatin1(arguments) << damage << QString::fromUtf8(message);
    };
    const char *const all = "export --capture-dir @DIR -o @OUT";
    // A line of the index, its fields between bars.
    const auto line = [&](const char *damage, const char *complaint) {
        row(all, "@DIR/index.tsv line 18: "_ba + complaint, damage);
    };
    row("export --capture-dir @GONE -o @OUT", "The capture folder @GONE does not exist.");
    row("export --capture-dir @DIR -o @GONE/out.pcap", "@GONE/out.pcap cannot be written");
    row(all, "@DIR/index.tsv line 3: the capture file @DIR/x0001_5000.dat cannot", "no x0001_5000.dat");
    row(all,
        "@DIR/index.tsv line 9: the capture file @DIR/x0003_5000.dat holds 100 bytes, fewer than the 5000",
        "short x0003_5000.dat");
    line("1|TIME|in|p|5000|5|f|", "it has 8 fields");
    line("1|TIME|in|p|5000|5|f|||", "it has 10 fields");
    line("|TIME|inn||||||", "'inn' is no event");
    line("|2026-12-06T19:43:27Z|in||||||", "the time");
    line("|2026-13-06T19:43:27.123456Z|in||||||", "the time");
    line("|TIME|in||65536||||", "the port");
    line("1a|TIME|in||||||", "the number");
    line("0|TIME|in||||||", "the number");
    line("|TIME|cmd|||||ABC|", "the bytes have an odd number");
    line("|TIME|cmd|||||GG|", "the bytes are not hexadecimal");
    line("|TIME|in||||||a\\x", "the note has a backslash");
    line("|TIME|in||||||a\\", "the note has a backslash");
    row("export", "-o FILE is needed");
    row("export -o x.pcap --session 0", "--session takes a number from 1");
    row("export -o x.pcap --in-port 70000", "--in-port takes a port");
    row("export -o x.pcap --in-port 0", "--in-port takes a port");
    row("export -o x.pcap --relay", "Unknown option 'relay'");
    row("export -o x.pcap now", "unexpected argument 'now'");
}

void tst_SessionExport::refused()
{
    QFETCH(QString, arguments);
    QFETCH(QByteArray, damage);
    QFETCH(QString, message);
    SessionFolder f;
    f.recordTwoRuns();
    if (damage.startsWith("short "))
        QVERIFY(QFile::resize(f.dir.filePath(QString::fromLatin1(damage.mid(6))), 100));
    else if (damage.startsWith("no "))
        QVERIFY(QFile::remove(f.dir.filePath(QString::fromLatin1(damage.mid(3)))));
    else if (!damage.isEmpty())
        f.write(u"index.tsv"_s, damage.replace('|', '\t').replace("TIME", Time) + '\n', QIODevice::Append);
    QTemporaryDir outputDir;
    const auto fill = [&](QString text) {
        return text.replace(u"@DIR"_s, f.dir.path())
            .replace(u"@OUT"_s, outputDir.filePath(u"out.pcap"_s))
            .replace(u"@GONE"_s, outputDir.filePath(u"gone"_s));
    };
    const auto shown = [&](const QString &text) { // as messages name files
        return QDir::toNativeSeparators(fill(text));
    };

    const QStringList list = fill(arguments).split(QLatin1Char(' '));
    const auto [status, output, errors] = runCommand(exportCommand, list);
    QCOMPARE(status, arguments.contains("--capture-dir"_L1) ? 1 : 2);
    QVERIFY2(errors.startsWith(u"gps-analyzer export: "_s + shown(message)), qPrintable(errors));
    QCOMPARE(errors.count(QLatin1Char('\n')) == 1, status == 1);
    QCOMPARE(errors.contains(u"Usage: gps-analyzer export [options]"_s), status == 2);
    QCOMPARE(QDir(outputDir.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

QTEST_GUILESS_MAIN(tst_SessionExport)
#include "tst_sessionexport.moc"
