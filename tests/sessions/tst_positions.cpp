// gps-analyzer positions: a capture folder recorded without decoding, decoded after the fact
// (from its index, or from its capture files alone), and its exports read back by tools that no
// one here wrote: gpsbabel (GPX, KML, GeoJSON) and Python's JSON parser.

#include "positionscommand.h"
#include "sessionfolder.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

namespace {

// Teltonika wiki: the handshake; Traccar TeltonikaProtocolDecoderTest: four records, sent in two
// chunks. Traccar Gps103ProtocolDecoderTest: a TK103 report, and one a minute later.
const QByteArray Imei = QByteArray::fromHex("000F333536333037303432343431303133");
const QByteArray Avl = QByteArray::fromHex(
    "000000000000009f080400000159738f76b8012e13b796110ab27600d700000b00004e01000000014e000000000000000000000159738f"
    "6ee8012e13b796110ab27600d700000a00004e01000000014e01000b00791c179300000159738f6b00012e13b796110ab27600d700000a"
    "00004e01000000014e000000000000000000000159738f5f48012e13b796110ab27600d700000b00004e01000000014e01000b00791c17"
    "930400009671");
const QByteArray Tk103 = "imei:359710045559474,tracker,151030080103,,F,000101.000,A,5443.3834,N,02512.9071,E,0.00,0;"
                         "imei:359710045559474,tracker,151030080203,,F,000201.000,A,5443.4834,N,02512.9971,E,10.0,90;";
const QString Teltonika = u"356307042441013,Teltonika,AVL,"_s;
const QString Lines =
    u"4,2026-12-06T19:43:29.000000Z,127.0.0.1:40312,"_s + Teltonika +
    u"2017-01-06T11:34:59Z,1,28.5913718,77.3044118,215,0,0,11,priority=1;event=78;io78=0\r\n"
    "4,2026-12-06T19:43:29.000000Z,127.0.0.1:40312,"_s + Teltonika +
    u"2017-01-06T11:34:57Z,1,28.5913718,77.3044118,215,0,0,10,priority=1;event=78;io78=72069690697717651\r\n"_s;
const QString TkLines = u"359710045559474,TK103,location,2015-10-30T00:01:01Z,1,54.7230567,25.2151183,,0,0,,"
                        "keyword=tracker\r\n"_s;

QString run(const QStringList &arguments, int expectedStatus, QString *errors = nullptr)
{
    const auto [status, output, messages] = runCommand(positionsCommand, QStringList{u"positions"_s} + arguments);
    if (errors)
        *errors = messages;
    return status == expectedStatus ? output : u"status %1: %2"_s.arg(status).arg(messages);
}

// The points gpsbabel reads from a file, waypoints and then track (or route: GeoJSON's lines)
// points, as "lat,lon" with 7 decimals; gpsbabel writes them out as GPX to be read here.
QStringList readByGpsbabel(const QString &program, const QString &format, const QString &file)
{
    QProcess gpsbabel;
    gpsbabel.start(program, {u"-w"_s, u"-t"_s, u"-r"_s, u"-i"_s, format, u"-f"_s, file, u"-o"_s, u"gpx"_s, u"-F"_s, u"-"_s});
    if (!gpsbabel.waitForFinished(10000) || gpsbabel.exitCode() != 0)
        return {u"gpsbabel failed: "_s + QString::fromLocal8Bit(gpsbabel.readAllStandardError())};
    QStringList points;
    static const QRegularExpression point(uR"(<(?:wpt|trkpt|rtept) lat="(-?\d+\.\d{7})\d*" lon="(-?\d+\.\d{7})\d*")"_s);
    for (const QRegularExpressionMatch &match : point.globalMatch(QString::fromUtf8(gpsbabel.readAllStandardOutput())))
        points << match.captured(1) + u',' + match.captured(2);
    return points;
}

} // namespace

class tst_Positions final : public QObject
{
    Q_OBJECT

private slots:
    void decodesCaptureFolders();
    void trackersAtOnceApart();
    void exportsAreReadBack_data();
    void exportsAreReadBack();
    void failures();
};

void tst_Positions::decodesCaptureFolders()
{
    SessionFolder indexed;
    indexed.add(Kind::Listen, 0, {}, 5000);
    indexed.add(Kind::Connect, 1'000'000, Tracker1, 5000);
    indexed.add(Kind::In, 1'000'100, Tracker1, 5000, Imei);
    indexed.add(Kind::In, 1'500'000, Tracker1, 5000, Avl.first(100));
    indexed.add(Kind::Out, 1'600'000, OutServer, 5001, Ack);
    indexed.add(Kind::In, 2'000'000, Tracker1, 5000, Avl.sliced(100));
    indexed.add(Kind::Disconnect, 3'000'000, Tracker1, 5000);
    indexed.add(Kind::Connect, 4'000'000, Tracker2, 5000);
    indexed.add(Kind::In, 4'000'100, Tracker2, 5000, Tk103);
    const QString folder = indexed.dir.path();
    QString summary;
    const QString csv = run({u"--capture-dir"_s, folder}, 0, &summary);
    QVERIFY2(csv.startsWith(u"number,time,peer,device,protocol,message,fix_time,valid,latitude,longitude,altitude_m,"
                            "speed_kmh,course_deg,satellites,fields\r\n"_s + Lines),
             qPrintable(csv));
    QVERIFY(csv.endsWith(u"5,2026-12-06T19:43:31.000100Z,127.0.0.1:40313,"_s + TkLines +
                         u"5,2026-12-06T19:43:31.000100Z,127.0.0.1:40313,359710045559474,TK103,location,"
                         "2015-10-30T00:02:01Z,1,54.7247233,25.2166183,,18.52,90,,keyword=tracker\r\n"_s));
    QCOMPARE(summary, u"Decoded 6 records of 2 devices from 4 chunks; 0 frames not decoded.\n"_s);
    // The second session alone, its protocol named.
    QCOMPARE(run({u"--capture-dir"_s, folder, u"--session"_s, u"2"_s, u"--protocol"_s, u"tk103"_s}, 0).count(u'\n'), 3);

    // Without the index: the tracker's capture files, one session per run of numbers (the OUT
    // server's between them belong to it, an error log ends it); a frame with a bad checksum is
    // counted, and a wrong protocol decodes nothing.
    QTemporaryDir files;
    QByteArray broken = Avl;
    broken[broken.size() - 1] = 0;
    const QList<std::pair<const char *, QByteArray>> captures{{"x0001_5000.dat", Imei + Avl}, {"x0002_5001.dat", Ack},
        {"x0003_5000.dat", broken}, {"x0004_err5000.log", " 10054 reset\r\n"}, {"x0005_5000.dat", Tk103}};
    for (const auto &[name, bytes] : captures) {
        QFile capture(files.filePath(QString::fromLatin1(name)));
        QVERIFY(capture.open(QIODevice::WriteOnly) && capture.write(bytes) == bytes.size());
    }
    QVERIFY(run({u"--capture-dir"_s, files.path()}, 0, &summary).contains(u"\r\n1,,,"_s + Teltonika));
    QCOMPARE(summary, u"Decoded 6 records of 2 devices from 3 chunks; 1 frame not decoded.\n"_s);
    QVERIFY(run({u"--capture-dir"_s, files.path(), u"--session"_s, u"2"_s}, 0).endsWith(u"fields\r\n5,,,"_s + TkLines +
            u"5,,,359710045559474,TK103,location,2015-10-30T00:02:01Z,1,54.7247233,25.2166183,,18.52,90,,keyword=tracker\r\n"_s));
    QCOMPARE(run({u"--capture-dir"_s, files.path(), u"--protocol"_s, u"gt06"_s}, 0, &summary).count(u'\n'), 1);
}

void tst_Positions::trackersAtOnceApart()
{
    // Two trackers at once and one over UDP, their chunks interleaved in the index: each session
    // is split and decoded on its own (the UDP peer's datagram by datagram), its rows naming its
    // tracker. The datagram is the Teltonika wiki's Codec 8 over UDP.
    SessionFolder fleet;
    fleet.add(Kind::Listen, 0, {}, 7000, {}, u"relay to %1 per tracker"_s.arg(OutServer));
    fleet.add(Kind::Connect, 1'000'000, Tracker1, 7000);
    fleet.add(Kind::Connect, 1'000'100, Tracker2, 7000);
    fleet.add(Kind::In, 1'000'200, Tracker1, 7000, Imei);
    fleet.add(Kind::In, 1'000'300, Tracker2, 7000, Tk103.first(Tk103.indexOf(';') + 1));
    fleet.add(Kind::UdpPeer, 1'000'350, u"127.0.0.1:40314"_s, 7000, {}, u"udp local 0.0.0.0:7000"_s);
    fleet.add(Kind::In, 1'000'360, u"127.0.0.1:40314"_s, 7000,
              QByteArray::fromHex("003DCAFE0105000F33353230393330383634303336353508010000016B4F815B300100000000000000"
                                  "00000000000000000103021503010101425DBC000001"),
              u"udp"_s);
    fleet.add(Kind::In, 1'000'400, Tracker1, 7000, Avl);
    const QString csv = run({u"--capture-dir"_s, fleet.dir.path()}, 0);
    QCOMPARE(csv.count(u'\n'), 7);
    QVERIFY2(csv.contains(u"\r\n3,2026-12-06T19:43:28.000360Z,127.0.0.1:40314,352093086403655,Teltonika,AVL,"
                          "2019-06-13T06:23:26Z,"_s),
             qPrintable(csv));
    QVERIFY2(csv.contains(u"fields\r\n4,2026-12-06T19:43:28.000400Z,"_s + Tracker1 + u',' + Teltonika +
                          u"2017-01-06T11:34:59Z,"_s) &&
                 csv.contains(u"\r\n2,2026-12-06T19:43:28.000300Z,"_s + Tracker2 + u',' + TkLines),
             qPrintable(csv));
}

void tst_Positions::exportsAreReadBack_data()
{
    QTest::addColumn<QString>("format");
    for (const char *format : {"gpx", "kml", "geojson"})
        QTest::newRow(format) << QString::fromLatin1(format);
}

void tst_Positions::exportsAreReadBack()
{
    QFETCH(QString, format);
    SessionFolder folder;
    folder.write(u"x0001_5000.dat"_s, Imei + Avl);
    folder.write(u"x0002_err5000.log"_s, " 10054 reset\r\n");
    folder.write(u"x0003_5000.dat"_s, Tk103);
    QFile::remove(folder.dir.filePath(SessionIndexFile::FileName));
    const QString file = folder.dir.filePath(u"track."_s + format);
    QCOMPARE(run({u"--capture-dir"_s, folder.dir.path(), u"--format"_s, format, u"-o"_s, file}, 0), QString());
    // Each record as a point (GeoJSON, KML), each track's points (all three); the tracks in the
    // order of their fix times.
    const QString teltonika = u"28.5913718,77.3044118"_s, tk1 = u"54.7230567,25.2151183"_s, tk2 = u"54.7247233,25.2166183"_s;
    QStringList expected = QStringList(4, teltonika) << tk1 << tk2;
    if (format != u"gpx"_s)
        expected = expected + expected;
    const QString gpsbabel = QStandardPaths::findExecutable(u"gpsbabel"_s);
#ifndef Q_OS_LINUX
    if (gpsbabel.isEmpty())
        QSKIP("gpsbabel is not installed: the export is written but not read back");
#endif
    QCOMPARE(readByGpsbabel(gpsbabel, format, file), expected);
    if (format == u"geojson"_s) {
        QProcess python;
        python.start(u"python3"_s, {u"-m"_s, u"json.tool"_s, file});
        QVERIFY(python.waitForFinished(10000));
        QCOMPARE(python.exitCode(), 0);
    }
}

void tst_Positions::failures()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(u"out.gpx"_s);
    QString errors;
    QCOMPARE(run({u"--capture-dir"_s, dir.filePath(u"missing"_s), u"-o"_s, file}, 1, &errors), QString());
    QVERIFY(errors.contains(u"does not exist"_s));
    QCOMPARE(run({u"--capture-dir"_s, dir.path(), u"--session"_s, u"1"_s}, 1, &errors), QString());
    QVERIFY(!QFile::exists(file));
    QCOMPARE(run({u"--capture-dir"_s, dir.path(), u"-o"_s, dir.filePath(u"no/such/folder.csv"_s)}, 1, &errors), QString());
    QCOMPARE(run({u"--format"_s, u"shp"_s}, 2, &errors), QString());
    QVERIFY(errors.contains(u"unknown format 'shp'; one of: csv, geojson, gpx, kml."_s));
}

QTEST_GUILESS_MAIN(tst_Positions)
#include "tst_positions.moc"
