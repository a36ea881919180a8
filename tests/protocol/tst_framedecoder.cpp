#include "checksums.h"
#include "framedecoder.h"
#include "framesplitter.h"
#include "positiontext.h"

#include <QtTest>

// Real frames with the values their sources state: the device makers' documents and wikis, and
// the tests of the open-source Traccar server that assert positions (its *ProtocolDecoderTest
// classes). Each row names its source; a row's `stated` coordinates are the source's own, and
// the record must agree with them to their last decimal (1e-6 where they give six).

namespace {

const auto hex = &QByteArray::fromHex;

QByteArray teltonikaPacket(const QByteArray &data)
{
    QByteArray packet = QByteArray(8, '\0') + data + QByteArray(4, '\0');
    qToBigEndian(quint32(data.size()), packet.data() + 4);
    qToBigEndian(quint32(crc16Ibm(data)), packet.data() + packet.size() - 4);
    return packet;
}

// Traccar TeltonikaProtocolDecoderTest: four records in one packet.
const QByteArray FourRecords =
    hex("000000000000009f080400000159738f76b8012e13b796110ab27600d700000b00004e01000000014e00000000000000"
        "0000000159738f6ee8012e13b796110ab27600d700000a00004e01000000014e01000b00791c179300000159738f6b00"
        "012e13b796110ab27600d700000a00004e01000000014e000000000000000000000159738f5f48012e13b796110ab276"
        "00d700000b00004e01000000014e01000b00791c17930400009671");

// The lines the frames give, as the live capture shows them after its tags, one per line; each
// frame is split from the bytes first, or taken whole when `direct`.
QString decodedText(const QString &protocol, const QByteArray &bytes, bool direct, QList<PositionRecord> *records,
                    FrameSplitter::Transport transport = FrameSplitter::Transport::Stream)
{
    FrameSplitter splitter(*protocolChoiceFromName(protocol), transport);
    FrameSplitter::Result split;
    if (direct)
        split.frames.emplace_back(protocolChoiceFromName(protocol)->protocol.value(), bytes);
    else
        split = splitter.feed(bytes);
    QByteArray text;
    DecodedFrame decoded;
    for (TrackerFrame &frame : split.frames) {
        frame.kind = frame.kind.isEmpty() ? QStringLiteral("location") : frame.kind;
        decodeFrame(frame, decoded);
        const QByteArray name = protocolName(frame.protocol).toLatin1();
        const QByteArray device = splitter.deviceId().toLatin1();
        for (const PositionRecord &record : decoded.records()) {
            PositionText::appendPositionLine(text.append(text.isEmpty() ? "" : "\n").append("POS: "), name, device, record);
            records->append(record);
        }
        if (decoded.records().empty() && decoded.hasContent())
            PositionText::appendFrameLine(text.append(text.isEmpty() ? "" : "\n").append("DEC: "), name, device,
                                          frame.kind.toLatin1(), decoded);
    }
    return QString::fromUtf8(text);
}

} // namespace

class tst_FrameDecoder final : public QObject
{
    Q_OBJECT

private slots:
    void decodesRealFrames_data();
    void decodesRealFrames();
    void writesTimes();
    void decodesTeltonikaOverUdp();
};

void tst_FrameDecoder::decodesRealFrames_data()
{
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("lines");
    QTest::addColumn<QString>("stated");
    QTest::addColumn<bool>("direct");
    const auto row = [](const char *name, const char *protocol, const QByteArray &bytes, const char *lines,
                        const char *stated = "", bool direct = false) {
        QTest::newRow(name) << QString::fromLatin1(protocol) << bytes << QString::fromUtf8(lines)
                            << QString::fromLatin1(stated) << direct;
    };
    // Teltonika wiki, "Teltonika Data Sending Protocols": the handshake; the Codec 8 example 1
    // (10 June 2019 10:04:46, IO 21 = 3, 1 = 1, 66 = 0x5E0F, 241 = 0x601A, 78 = 0); the Codec 8
    // Extended example; the Codec 16 example (two records, generation type 5); a Codec 12 response.
    row("Teltonika IMEI", "teltonika", hex("000F333536333037303432343431303133"),
        "DEC: Teltonika 356307042441013 IMEI imei=356307042441013");
    row("Teltonika codec 8", "teltonika",
        hex("000000000000003608010000016B40D8EA30010000000000000000000000000000000105021503010101425E0F01F1"
            "0000601A014E0000000000000000010000C7CF"),
        "POS: Teltonika 2019-06-10T10:04:46Z invalid 0.0000000,0.0000000 alt 0 m 0 km/h 0° 0 sats priority=1 "
        "event=1 io21=3 io1=1 io66=24079 io241=24602 io78=0");
    row("Teltonika codec 8E", "teltonika",
        hex("000000000000004A8E010000016B412CEE000100000000000000000000000000000000010005000100010100010011"
            "001D00010010015E2C880002000B000000003544C87A000E000000001DD7E06A00000100002994"),
        "POS: Teltonika 2019-06-10T11:36:32Z invalid 0.0000000,0.0000000 alt 0 m 0 km/h 0° 0 sats priority=1 "
        "event=1 io1=1 io17=29 io16=22949000 io11=893700218 io14=500686954");
    row("Teltonika codec 16", "teltonika",
        hex("000000000000005F10020000016BDBC7833000000000000000000000000000000000000B05040200010000030002000B"
            "00270042563A00000000016BDBC7871800000000000000000000000000000000000B05040200010000030002000B0026"
            "0042563A00000200005FB3"),
        "POS: Teltonika 2019-07-10T12:06:54Z invalid 0.0000000,0.0000000 alt 0 m 0 km/h 0° 0 sats priority=0 "
        "event=11 generation=5 io1=0 io3=0 io11=39 io66=22074\n"
        "POS: Teltonika 2019-07-10T12:06:55Z invalid 0.0000000,0.0000000 alt 0 m 0 km/h 0° 0 sats priority=0 "
        "event=11 generation=5 io1=0 io3=0 io11=38 io66=22074");
    row("Teltonika codec 12", "teltonika",
        hex("00000000000000900C010600000088494E493A323031392F372F323220373A3232205254433A323031392F372F323220"
            "373A3533205253543A32204552523A312053523A302042523A302043463A302046473A3020464C3A302054553A302F30"
            "2055543A3020534D533A30204E4F4750533A303A3330204750533A31205341543A302052533A332052463A3635205346"
            "3A31204D443A30010000C78F"),
        "DEC: Teltonika response response=INI:2019/7/22 7:22 RTC:2019/7/22 7:53 RST:2 ERR:1 SR:0 BR:0 CF:0 FG:0 "
        "FL:0 TU:0/0 UT:0 SMS:0 NOGPS:0:30 GPS:1 SAT:0 RS:3 RF:65 SF:1 MD:0");
    row("Teltonika, four records", "teltonika", FourRecords,
        "POS: Teltonika 2017-01-06T11:34:59Z valid 28.5913718,77.3044118 alt 215 m 0 km/h 0° 11 sats priority=1 "
        "event=78 io78=0\n"
        "POS: Teltonika 2017-01-06T11:34:57Z valid 28.5913718,77.3044118 alt 215 m 0 km/h 0° 10 sats priority=1 "
        "event=78 io78=72069690697717651\n"
        "POS: Teltonika 2017-01-06T11:34:56Z valid 28.5913718,77.3044118 alt 215 m 0 km/h 0° 10 sats priority=1 "
        "event=78 io78=0\n"
        "POS: Teltonika 2017-01-06T11:34:53Z valid 28.5913718,77.3044118 alt 215 m 0 km/h 0° 11 sats priority=1 "
        "event=78 io78=72069690697717651");
    // Concox GT06 protocol document: the login, location and status examples (29 August 2011
    // 17:46:16, 15 satellites, course and status 0x148F, MCC 460, LAC 0x287D, cell 0x001FB8).
    row("GT06 login", "gt06", hex("78780D01012345678901234500018CDD0D0A"),
        "DEC: GT06 123456789012345 login imei=123456789012345");
    row("GT06 location", "gt06", hex("78781F120B081D112E10CF027AC7EB0C46584900148F01CC00287D001FB8000380810D0A"),
        "POS: GT06 2011-08-29T17:46:16Z valid 23.1116683,114.4092850 0 km/h 143° 15 sats mcc=460 mnc=0 lac=10365 "
        "cid=8120");
    row("GT06 status", "gt06", hex("78780A134004040001000FDCEE0D0A"),
        "DEC: GT06 heartbeat terminal=0x40 voltage=4 gsm=4 acc=0 alarm=normal");
    // Traccar Gt06ProtocolDecoderTest.
    row("GT06 0x22", "gt06", hex("787822220F0C1D023305C9027AC8180C46586000140001CC00287D001F71000001000820860D0A"),
        "POS: GT06 2015-12-29T02:51:05Z valid 23.1116933,114.4092978 0 km/h 0° 9 sats mcc=460 mnc=0 lac=10365 "
        "cid=8049 acc=0");
    row("GT06 alarm 0x26", "gt06",
        hex("7878252612030C063816C3026C10540C38C9700144030901CC002866000EEE0C06040302000DA2DB0D0A"),
        "POS: GT06 2018-03-12T06:56:22Z invalid 22.5758333,113.9156533 1 km/h 3° 3 sats mcc=460 mnc=0 lac=10342 "
        "cid=3822 terminal=0x0C voltage=6 gsm=4 acc=0 alarm=shock");
    row("GT06 unknown", "gt06", hex("79790020940a035985708236675805200502187214018966051912408052452f000355560d0a"),
        "DEC: GT06 information not decoded: no layout known for GT06 message 0x94");
    // Traccar H02ProtocolDecoderTest, with the positions it asserts; the heartbeat in the form of
    // the H02 document.
    row("H02 text", "h02", "*HQ,4210051415,V1,164549,A,0956.3869,N,08406.7068,W,000.00,000,221215,FFFFFBFF,712,01,0,0,6#",
        "POS: H02 4210051415 2015-12-22T16:45:49Z valid 9.9397817,-84.1117800 0 km/h 0° status=0xFFFFFBFF",
        "9.93978,-84.11178");
    row("H02 without validity", "h02", "*HQ,355488020119695,V1,050418,,2827.61232,N,07703.84822,E,0.00,0,031015,FFFEFBFF#",
        "POS: H02 355488020119695 2015-10-03T05:04:18Z invalid 28.4602053,77.0641370 0 km/h 0° status=0xFFFEFBFF",
        "28.46021,77.06414");
    row("H02 binary", "h02", hex("24410600082621532131081504419390060740418306000000fffffbfdff0015060000002c02dc0c000000001f"),
        "POS: H02 4106000826 2015-08-31T21:53:21Z valid 4.6989833,-74.0697167 0 km/h 0° status=0xFFFFFBFD",
        "4.69898,-74.06971");
    row("H02 heartbeat", "h02", "*HQ,4106012736,HTBT,100#", "DEC: H02 4106012736 heartbeat type=HTBT");
    // Traccar MeitrackProtocolDecoderTest: the AAA report whose position it asserts (published
    // without CR LF and with a length and checksum that do not fit it: decoded as it stands), a
    // second report and a command's answer.
    row("Meitrack AAA", "meitrack",
        "$$A158,79007001520234,AAA,35,40.996370,-8.575065,150730184834,A,8,24,0,1,1.3,173,32573389,31405012,"
        "268|3|2BC0|250B,2000,|||0A2D|0000,00000001,,50,,,,,,,,,,,,,*4A\r\n",
        "POS: Meitrack 2015-07-30T18:48:34Z valid 40.9963700,-8.5750650 alt 173 m 0 km/h 1° 8 sats event=35 gsm=24 "
        "hdop=1.3 mileage=32573389 runtime=31405012 cell=268|3|2BC0|250B io=2000",
        "40.99637,-8.57507", true);
    row("Meitrack AAA, split", "meitrack",
        "$$D149,867047043162018,AAA,35,-1.264865,36.800705,211001105240,A,9,20,41.0,323,1,1697,1,0,"
        "000|00||,0000,4.33|12.96|1.92|2.72|2.69,0.000000|0|0.000000,*E1\r\n",
        "POS: Meitrack 867047043162018 2021-10-01T10:52:40Z valid -1.2648650,36.8007050 alt 1697 m 41 km/h 323° 9 sats "
        "event=35 gsm=20 hdop=1 mileage=1 runtime=0 cell=000|00|| io=0000",
        "-1.264865,36.800705");
    row("Meitrack answer", "meitrack", "$$D28,353358017784062,D03,OK*F3\r\n",
        "DEC: Meitrack 353358017784062 response command=D03 response=OK");
    // Traccar Gps103ProtocolDecoderTest, with the positions it asserts; the last straddles
    // midnight (local 02:59 on the 27th, UTC 23:59 on the 26th).
    row("TK103", "tk103", "imei:359710045559474,tracker,151030080103,,F,000101.000,A,5443.3834,N,02512.9071,E,0.00,0;",
        "POS: TK103 359710045559474 2015-10-30T00:01:01Z valid 54.7230567,25.2151183 0 km/h 0° keyword=tracker",
        "54.72306,25.21512");
    row("TK103 course", "tk103",
        "imei:865328021058861,tracker,151027041419,,F,011531.000,A,6020.2979,N,02506.1940,E,0.49,113.30,,0,0,0.0%,,;",
        "POS: TK103 865328021058861 2015-10-27T01:15:31Z valid 60.3382983,25.1032333 0.907 km/h 113.3° "
        "keyword=tracker",
        "60.33830,25.10323");
    row("TK103 midnight", "tk103",
        "imei:359710049092324,tracker,151027025958,,F,235957.000,A,2429.5156,N,04424.5828,E,0.01,27.91,,0,0,,,;",
        "POS: TK103 359710049092324 2015-10-26T23:59:57Z valid 24.4919267,44.4097133 0.019 km/h 27.91° "
        "keyword=tracker",
        "24.49193,44.40971");
    row("TK103 help me", "tk103",
        "imei:359586015829802,help me,0809231429,13554900601,F,062947.294,A,2234.4026,N,11354.3277,E,0.00,;",
        "POS: TK103 359586015829802 2008-09-23T06:29:47.294Z valid 22.5733767,113.9054617 0 km/h keyword=help me "
        "phone=13554900601");
    row("TK103 cell", "tk103", "imei:359710049075097,help me,,,L,,,113b,,558f,,,,,0,0,,,;",
        "DEC: TK103 359710049075097 alarm keyword=help me lac=113b cid=558f");
    row("TK103 login", "tk103", "##,imei:359586015829802,A;", "DEC: TK103 359586015829802 login imei=359586015829802");
    // Queclink @Track document's GTFRI examples, of one position and of two (the second without a
    // fix), as Traccar's Gl200TextProtocolDecoderTest publishes them; a report without a fix.
    row("Queclink GTFRI", "queclink",
        "+RESP:GTFRI,020102,135790246811220,,0,0,1,1,4.3,92,70.0,121.354335,31.222073,20090214013254,0460,0000,18d8,"
        "6141,00,,20090214093254,11F0$",
        "POS: Queclink 135790246811220 2009-02-14T01:32:54Z valid 31.2220730,121.3543350 alt 70 m 4.3 km/h 92° "
        "accuracy=1 mcc=0460 mnc=0000 lac=18d8 cid=6141 report=GTFRI count=11F0",
        "31.222073,121.354335");
    row("Queclink two positions", "queclink",
        "+RESP:GTFRI,020102,135790246811220,,0,0,2,1,4.3,92,70.0,121.354335,31.222073,20090214013254,0460,0000,18d8,"
        "6141,00,0,4.3,92,70.0,121.354335,31.222073,20090101000000,0460,0000,18d8,6141,00,,20090214093254,11F0$",
        "POS: Queclink 135790246811220 2009-02-14T01:32:54Z valid 31.2220730,121.3543350 alt 70 m 4.3 km/h 92° "
        "accuracy=1 mcc=0460 mnc=0000 lac=18d8 cid=6141 report=GTFRI count=11F0\n"
        "POS: Queclink 135790246811220 2009-01-01T00:00:00Z invalid 31.2220730,121.3543350 alt 70 m 4.3 km/h 92° "
        "accuracy=0 mcc=0460 mnc=0000 lac=18d8 cid=6141 report=GTFRI count=11F0",
        "31.222073,121.354335");
    row("Queclink without fix", "queclink",
        "+BUFF:GTFRI,2E0503,861106050005423,,,0,1,,,,,,,,,,,,0,0,,98,1,0,,,20200101000001,0083$",
        "DEC: Queclink 861106050005423 location report=GTFRI count=0083");
    row("Queclink heartbeat", "queclink", "+ACK:GTHBD,060100,135790246811220,,20100214093254,11F0$",
        "DEC: Queclink 135790246811220 heartbeat report=GTHBD count=11F0");
    // The NMEA 0183 RMC and GGA examples (12:35:19 UTC on 23 March 1994, 48°07.038' N 11°31.000' E,
    // 22.4 knots, 84.4°, variation 3.1° W; fix quality 1, 8 satellites, HDOP 0.9, 545.4 m, geoid
    // 46.9 m); another sentence.
    row("NMEA RMC", "nmea", "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n",
        "POS: NMEA 1994-03-23T12:35:19Z valid 48.1173000,11.5166667 41.485 km/h 84.4° magvar=-3.1");
    row("NMEA GGA", "nmea", "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n",
        "POS: NMEA valid 48.1173000,11.5166667 alt 545.4 m 8 sats utc=123519 quality=1 hdop=0.9 geoid=46.9");
    row("NMEA GSV", "nmea", "$GPGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,13,06,292,00*74\r\n",
        "DEC: NMEA GPGSV sentence=GPGSV");

    // Intact frames whose content does not read: a reason, no record.
    row("Teltonika cut short", "teltonika", teltonikaPacket(FourRecords.sliced(8, 100) + hex("04")),
        "DEC: Teltonika AVL not decoded: record 3 of 4 cut short");
    row("Teltonika count", "teltonika", teltonikaPacket(hex("0801") + FourRecords.sliced(10, 39) + hex("00000001")),
        "DEC: Teltonika AVL not decoded: the records end 3 bytes before the closing count");
    row("Teltonika codec 7", "teltonika", teltonikaPacket(hex("070000")),
        "DEC: Teltonika AVL not decoded: no layout known for Teltonika codec 0x07");
    row("H02 latitude", "h02", "*HQ,1451316409,V1,030149,A,-23-29.0095,S,-46-51.5852,W,2.4,065,070315,FFFFFFFF#",
        "DEC: H02 1451316409 location not decoded: latitude '-23-29.0095' is no number");
    row("NMEA date", "nmea", "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,300294,003.1,W*69\r\n",
        "DEC: NMEA GPRMC not decoded: no such date and time: 1994-02-30 00:00:00");
    row("Meitrack time", "meitrack", "$$D28,353358017784062,AAA,35*DD\r\n",
        "DEC: Meitrack 353358017784062 location not decoded: cut short");
}

void tst_FrameDecoder::decodesRealFrames()
{
    QFETCH(QString, protocol);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, lines);
    QFETCH(QString, stated);
    QFETCH(bool, direct);
    QList<PositionRecord> records;
    QCOMPARE(decodedText(protocol, bytes, direct, &records), lines);
    const QStringList coordinates = stated.split(u',', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < coordinates.size(); ++i) {
        // One unit of the source's last decimal: some round, some cut.
        const double tolerance = std::pow(10.0, -(coordinates[i].size() - coordinates[i].indexOf(u'.') - 1));
        QVERIFY2(std::abs((i == 0 ? *records.front().latitude : *records.front().longitude) - coordinates[i].toDouble()) <=
                     std::max(tolerance, 1e-6),
                 qPrintable(coordinates[i]));
    }
    // A frame whose checksum fails is not read at all.
    TrackerFrame broken(protocolChoiceFromName(protocol)->protocol.value(), bytes);
    broken.checksumOk = false;
    DecodedFrame decoded;
    decodeFrame(broken, decoded);
    QCOMPARE(decoded.reason, QStringLiteral("not intact"));
    QVERIFY(decoded.records().empty());
}

void tst_FrameDecoder::decodesTeltonikaOverUdp()
{
    // Teltonika wiki, Codec 8 sent over UDP: its codec data read as over TCP.
    QList<PositionRecord> records;
    QCOMPARE(decodedText(QStringLiteral("teltonika"),
                         hex("003DCAFE0105000F33353230393330383634303336353508010000016B4F815B30010000000000000000000000"
                             "000000000103021503010101425DBC000001"),
                         false, &records, FrameSplitter::Transport::Datagram),
             QStringLiteral("POS: Teltonika 352093086403655 2019-06-13T06:23:26Z invalid 0.0000000,0.0000000 alt 0 m "
                            "0 km/h 0° 0 sats priority=1 event=1 io21=3 io1=1 io66=23996"));
}

void tst_FrameDecoder::writesTimes()
{
    const auto text = [](auto append, auto value) {
        QByteArray out;
        append(out, value);
        return out;
    };
    QCOMPARE(text(PositionText::appendCaptureTime, qint64(1'560'161'086'000'007)), "2019-06-10T10:04:46.000007Z");
    QCOMPARE(text(PositionText::appendCaptureTime, qint64(-1)), "1969-12-31T23:59:59.999999Z");
    QCOMPARE(text(PositionText::appendFixTime, qint64(951'782'400'000)), "2000-02-29T00:00:00Z");
    QCOMPARE(text(PositionText::appendCoordinate, -8.57506499), "-8.5750650");
    QCOMPARE(text(PositionText::appendDecimal, 0.1 + 0.2), "0.3");
    // Whole measures take a path of their own; the date is kept from one time to the next.
    for (const auto &[value, written] : {std::pair{-5.0, "-5"}, {-0.0, "0"}, {-0.0004, "0"}, {2e12, "2000000000000"}})
        QCOMPARE(text(PositionText::appendDecimal, value), written);
    QByteArray times;
    {
        PositionText::Writer out(times);
        for (const qint64 ms : {1'560'161'086'000, 951'782'400'000, 951'868'799'999, 1'560'161'086'000}) {
            out.reserve(PositionText::Writer::TimeRoom);
            out.fixTime(ms);
        }
    }
    QCOMPARE(times, "2019-06-10T10:04:46Z2000-02-29T00:00:00Z2000-02-29T23:59:59.999Z2019-06-10T10:04:46Z");
    // A copy of fields keeps them while the original is emptied and refilled.
    FieldList fields;
    fields.add("a", 1);
    const FieldList copy = fields;
    fields.clear();
    fields.add("b", QByteArrayView("x"));
    QCOMPARE(copy.joined(' '), "a=1");
    QCOMPARE(fields.joined(' '), "b=x");
}

QTEST_GUILESS_MAIN(tst_FrameDecoder)
#include "tst_framedecoder.moc"
