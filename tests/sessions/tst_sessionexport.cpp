#include "exportcommand.h"
#include "sessionfolder.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

using Kind = SessionEvent::Kind;
using Streams = QMap<QString, QByteArray>; // "FROM>TO" → every byte sent that way

namespace {

const QString Tracker1 = QStringLiteral("127.0.0.1:40312");
const QString Tracker2 = QStringLiteral("127.0.0.1:40313");
const QString Analyzer = QStringLiteral("127.0.0.1:5000");
const QString OutServer = QStringLiteral("127.0.0.1:5001");
const QString RelayEnd = QStringLiteral("127.0.0.1:49152"); // PcapExport::RelayPortBase, first run

// The NMEA 0183 RMC example sentence, as trackers of the NMEA kind send it.
const QByteArray Rmc = "$GPRMC,123519,A,4807.038,N,01131.000,E*6A\r\n";
const QByteArray Ping = "*PING#\r\n";
const QByteArray Ack = "ACK\r\n";

QByteArray everyByte(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i * 7 % 256);
    return bytes;
}

// Two tracker connections through a relay: the first with a command, an answer passed on to the
// tracker, a chunk of several segments and a reset; the second with an orderly close.
void recordTwoSessions(SessionFolder &f)
{
    f.record(Kind::Listen, 0, {}, 5000, QStringLiteral("relay to ") + OutServer);
    f.record(Kind::Connect, 1'000'000, Tracker1, 5000, QStringLiteral("local ") + Analyzer);
    f.capture(Kind::In, 1'100'000, Tracker1, 5000, Rmc);
    f.record(Kind::Cmd, 1'100'010, Tracker1, 5000, {}, Ping);
    const QString answer = f.capture(Kind::Out, 1'200'000, OutServer, 5001, Ack);
    f.pass(1'200'100, Tracker1, 5000, answer, Ack.size());
    f.capture(Kind::In, 2'000'000, Tracker1, 5000, everyByte(5000));
    f.record(Kind::Error, 3'000'000, Tracker1, 5000, QStringLiteral("10054 Connection is reset by remote side"));
    f.record(Kind::Connect, 4'000'000, Tracker2, 5000, QStringLiteral("local ") + Analyzer);
    f.capture(Kind::In, 4'500'000, Tracker2, 5000, "second");
    f.record(Kind::Disconnect, 5'000'000, Tracker2, 5000);
}

struct Result
{
    int status = -1;
    QString output;
    QString errors;
};

Result exportWith(const QStringList &arguments)
{
    Result r;
    QTextStream output(&r.output), errors(&r.errors);
    r.status = exportCommand(QStringList{QStringLiteral("gps-analyzer"), QStringLiteral("export")} + arguments,
                             output, errors);
    output.flush();
    errors.flush();
    return r;
}

// tshark's own reading of a capture: what each followed stream carried each way, and the
// expert warnings and errors of TCP and IP other than a reset (bad checksums, lost segments).
struct TsharkReading
{
    Streams streams;
    QStringList problems;
};

TsharkReading readWithTshark(const QString &tshark, const QString &file, int streams)
{
    QStringList arguments{QStringLiteral("-r"), file, QStringLiteral("-q"), QStringLiteral("-o"),
                          QStringLiteral("tcp.check_checksum:TRUE"), QStringLiteral("-o"),
                          QStringLiteral("ip.check_checksum:TRUE"), QStringLiteral("-z"), QStringLiteral("expert,warn")};
    for (int k = 0; k < streams; ++k)
        arguments << QStringLiteral("-z") << QStringLiteral("follow,tcp,raw,%1").arg(k);
    QProcess process;
    process.start(tshark, arguments);
    process.waitForFinished(60000);
    TsharkReading reading;
    QString nodes[2];
    bool inExpertTable = false;
    const QList<QByteArray> lines = process.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("Node 0: ") || line.startsWith("Node 1: ")) {
            nodes[line[5] - '0'] = QString::fromLatin1(line.mid(8).trimmed());
        } else if (line.startsWith("Errors (") || line.startsWith("Warns (")) {
            inExpertTable = true;
        } else if (line.startsWith("Notes (") || line.startsWith("Chats (") || line.startsWith("=====")) {
            inExpertTable = line.startsWith("=====") && inExpertTable;
        } else if (inExpertTable && (line.contains(" TCP ") || line.contains(" IPv4 ")) &&
                   !line.contains("Connection reset (RST)")) {
            reading.problems.append(QString::fromLatin1(line.simplified()));
        } else if (!line.isEmpty() && !line.startsWith("Follow:") && !line.startsWith("Filter:") && !inExpertTable &&
                   !nodes[0].isEmpty()) {
            const bool second = line.startsWith('\t');
            reading.streams[nodes[second ? 1 : 0] + QLatin1Char('>') + nodes[second ? 0 : 1]] +=
                QByteArray::fromHex(line.trimmed());
        }
    }
    return reading;
}

// Microseconds since 1970 of the first and the last packet, from the pcap records themselves.
QPair<qint64, qint64> packetTimeRange(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QDataStream records(&f);
    records.setByteOrder(QDataStream::LittleEndian);
    records.skipRawData(24); // the file header
    qint64 first = -1, last = -1;
    quint32 seconds = 0, micro = 0, captured = 0, length = 0;
    while (!records.atEnd()) {
        records >> seconds >> micro >> captured >> length;
        records.skipRawData(int(captured));
        last = qint64(seconds) * 1'000'000 + micro;
        first = first < 0 ? last : first;
    }
    return {first, last};
}

} // namespace

class TestSessionExport final : public QObject
{
    Q_OBJECT

private slots:
    void streamsAsTsharkReadsThem_data();
    void streamsAsTsharkReadsThem();
    void badInputLeavesNoFile_data();
    void badInputLeavesNoFile();
    void wrongOptions_data();
    void wrongOptions();
    void throughTheProgram();
};

void TestSessionExport::streamsAsTsharkReadsThem_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("streams");
    QTest::addColumn<Streams>("expected");
    QTest::addColumn<qint64>("firstUs");

    const auto way = [](const QString &from, const QString &to) { return from + QLatin1Char('>') + to; };
    const QByteArray big = everyByte(5000);
    QTest::newRow("all sessions") << QStringList() << 3
                                  << Streams{{way(Tracker1, Analyzer), Rmc + big},
                                             {way(Analyzer, Tracker1), Ping + Ack},
                                             {way(Tracker2, Analyzer), "second"},
                                             {way(RelayEnd, OutServer), Rmc + big + "second"},
                                             {way(OutServer, RelayEnd), Ack}}
                                  << SessionFolder::Start;
    QTest::newRow("--session 2") << QStringList{QStringLiteral("--session"), QStringLiteral("2")} << 2
                                 << Streams{{way(Tracker2, Analyzer), "second"}, {way(RelayEnd, OutServer), "second"}}
                                 << SessionFolder::Start + 4'000'000;
}

void TestSessionExport::streamsAsTsharkReadsThem()
{
    QFETCH(QStringList, options);
    QFETCH(int, streams);
    QFETCH(Streams, expected);
    QFETCH(qint64, firstUs);
    const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
    if (tshark.isEmpty())
        QSKIP("tshark is not installed (apt-get install tshark): the export is not read back");

    SessionFolder f;
    recordTwoSessions(f);
    const QString file = f.dir.filePath(QStringLiteral("out.pcap"));
    const Result r = exportWith(QStringList{QStringLiteral("--capture-dir"), f.dir.path(), QStringLiteral("-o"), file} +
                                options);
    QVERIFY2(r.status == 0, qPrintable(r.errors));

    const TsharkReading reading = readWithTshark(tshark, file, streams);
    QCOMPARE(reading.problems, QStringList());
    QCOMPARE(reading.streams.keys(), expected.keys());
    for (auto e = expected.cbegin(); e != expected.cend(); ++e)
        QVERIFY2(reading.streams.value(e.key()) == e.value(), qPrintable(e.key()));
    // The handshake at the first recorded time, the close at the last.
    QCOMPARE(packetTimeRange(file), qMakePair(firstUs, SessionFolder::Start + 5'000'000));
}

void TestSessionExport::badInputLeavesNoFile_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("message");

    QTest::newRow("missing folder") << QStringLiteral("folder") << QStringLiteral("does not exist");
    QTest::newRow("index line that does not parse") << QStringLiteral("line")
                                                    << QStringLiteral("index.tsv line 13: it has 1 fields");
    QTest::newRow("data file shorter than its line")
        << QStringLiteral("short") << QStringLiteral("line 8: the capture file %1 holds 100 bytes, fewer than the 5000");
    QTest::newRow("missing data file") << QStringLiteral("missing")
                                       << QStringLiteral("line 4: the capture file %1 cannot be read");
    QTest::newRow("output folder missing") << QStringLiteral("output") << QStringLiteral("cannot be written");
}

void TestSessionExport::badInputLeavesNoFile()
{
    QFETCH(QString, damage);
    QFETCH(QString, message);
    SessionFolder f;
    recordTwoSessions(f);
    f.index.reset();
    QString folder = f.dir.path();
    QTemporaryDir outputDir;
    QString output = outputDir.filePath(QStringLiteral("out.pcap"));
    QString file;
    if (damage == QLatin1StringView("folder")) {
        folder = outputDir.filePath(QStringLiteral("no-such-folder"));
    } else if (damage == QLatin1StringView("line")) {
        QFile index(f.dir.filePath(QStringLiteral("index.tsv")));
        QVERIFY(index.open(QIODevice::Append));
        index.write("garbage\n");
    } else if (damage == QLatin1StringView("short")) {
        file = f.dir.filePath(QStringLiteral("x0003_5000.dat"));
        QVERIFY(QFile::resize(file, 100));
    } else if (damage == QLatin1StringView("missing")) {
        file = f.dir.filePath(QStringLiteral("x0001_5000.dat"));
        QVERIFY(QFile::remove(file));
    } else {
        output = outputDir.filePath(QStringLiteral("gone/out.pcap"));
    }

    const Result r = exportWith({QStringLiteral("--capture-dir"), folder, QStringLiteral("-o"), output});
    QCOMPARE(r.status, 1);
    QVERIFY2(r.errors.startsWith(QStringLiteral("gps-analyzer export: ")), qPrintable(r.errors));
    QVERIFY2(r.errors.contains(message.contains(QLatin1StringView("%1")) ? message.arg(file) : message),
             qPrintable(r.errors));
    QCOMPARE(r.errors.count(QLatin1Char('\n')), 1);
    QCOMPARE(QDir(outputDir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

void TestSessionExport::wrongOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    const QString o = QStringLiteral("-o"), f = QStringLiteral("x.pcap");
    QTest::newRow("no output") << QStringList() << QStringLiteral("-o FILE is needed");
    QTest::newRow("session 0") << QStringList{o, f, QStringLiteral("--session"), QStringLiteral("0")}
                               << QStringLiteral("--session takes a number from 1");
    QTest::newRow("session not a number") << QStringList{o, f, QStringLiteral("--session"), QStringLiteral("two")}
                                          << QStringLiteral("--session takes a number from 1");
    QTest::newRow("in-port out of range") << QStringList{o, f, QStringLiteral("--in-port"), QStringLiteral("70000")}
                                          << QStringLiteral("--in-port takes a port");
    QTest::newRow("unknown option") << QStringList{o, f, QStringLiteral("--relay")}
                                    << QStringLiteral("Unknown option 'relay'");
    QTest::newRow("stray argument") << QStringList{o, f, QStringLiteral("now")}
                                    << QStringLiteral("unexpected argument 'now'");
}

void TestSessionExport::wrongOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const Result r = exportWith(arguments);
    QCOMPARE(r.status, 2);
    QVERIFY2(r.errors.startsWith(QStringLiteral("gps-analyzer export: ") + message), qPrintable(r.errors));
    QVERIFY(r.errors.contains(QStringLiteral("Usage: gps-analyzer export [options]")));
    QVERIFY(r.output.isEmpty());
}

void TestSessionExport::throughTheProgram()
{
#ifdef GPSA_ANALYZER_BINARY
    SessionFolder f;
    recordTwoSessions(f);
    const QString file = f.dir.filePath(QStringLiteral("all.pcap"));
    QProcess program;
    program.start(QStringLiteral(GPSA_ANALYZER_BINARY),
                  {QStringLiteral("export"), QStringLiteral("--capture-dir"), f.dir.path(), QStringLiteral("-o"), file});
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(program.readAllStandardOutput(), QStringLiteral("Wrote 2 sessions to %1.\n").arg(file).toUtf8());
    QVERIFY(QFileInfo(file).size() > 5000);
    program.start(QStringLiteral(GPSA_ANALYZER_BINARY), {QStringLiteral("replay"), QStringLiteral("--speed")});
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitCode(), 2);
    QVERIFY(program.readAllStandardError().startsWith("gps-analyzer replay: Missing value after '--speed'."));
#else
    QSKIP("the program runs as a child process on Unix only");
#endif
}

QTEST_GUILESS_MAIN(TestSessionExport)
#include "tst_sessionexport.moc"
