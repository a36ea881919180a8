#include "acknowledgement.h"
#include "checksums.h"
#include "framesplitter.h"

#include <QtTest>

// Frames that devices sent, as published by the device makers' protocol documents and wikis
// and by the test suite of the open-source Traccar server (its *ProtocolDecoderTest and
// *FrameDecoderTest classes); each row names its source.

namespace {

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

FrameSplitter splitterFor(const QString &option)
{
    return FrameSplitter(*protocolChoiceFromName(option));
}

// Feeds the chunks one after the other and gathers the frames.
QList<TrackerFrame> framesOf(FrameSplitter &splitter, const QList<QByteArray> &chunks)
{
    QList<TrackerFrame> frames;
    for (const QByteArray &chunk : chunks)
        frames += splitter.feed(chunk).frames;
    return frames;
}

// Teltonika wiki, "Teltonika Data Sending Protocols", Codec 8 example.
const QByteArray TeltonikaCodec8 =
    hex("000000000000003608010000016B40D8EA30010000000000000000000000000000000105021503010101"
        "425E0F01F10000601A014E0000000000000000010000C7CF");
// Concox GT06 protocol document, login packet example.
const QByteArray Gt06Login = hex("78780D01012345678901234500018CDD0D0A");
const QByteArray NmeaRmc = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";

} // namespace

class tst_FrameSplitter final : public QObject
{
    Q_OBJECT

private slots:
    void splitsRealFrames_data();
    void splitsRealFrames();
    void marksBadFrames_data();
    void marksBadFrames();
    void holdsAtMostTheBound();
    void detectionFixesTheProtocol();
    void detectionStopsOnUnknownBytes();
    void learnsTheH02BinaryLength();
    void teltonikaSessionKeepsItsImei();
};

void tst_FrameSplitter::splitsRealFrames_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("deviceId");
    QTest::addColumn<QByteArray>("answer");

    const auto row = [](const char *name, const char *option, const QByteArray &bytes, const char *summary,
                        const char *deviceId, const QByteArray &answer) {
        QTest::newRow(name) << QString::fromLatin1(option) << bytes << QString::fromLatin1(summary)
                            << QString::fromLatin1(deviceId) << answer;
    };
    // Teltonika wiki: the IMEI handshake, and the Codec 8, 8 Extended and 12 examples.
    row("Teltonika IMEI", "teltonika", hex("000F333536333037303432343431303133"), "Teltonika IMEI",
        "356307042441013", hex("01"));
    row("Teltonika codec 8", "teltonika", TeltonikaCodec8, "Teltonika AVL 1 record", "", hex("00000001"));
    row("Teltonika codec 8E", "teltonika",
        hex("000000000000004A8E010000016B412CEE00010000000000000000000000000000000001000500010001010001001100"
            "1D"
            "00010010015E2C880002000B000000003544C87A000E000000001DD7E06A00000100002994"),
        "Teltonika AVL 1 record (codec 8 extended)", "", hex("00000001"));
    // Traccar TeltonikaProtocolDecoderTest.
    row("Teltonika codec 8, 4 records", "teltonika",
        hex("000000000000009f080400000159738f76b8012e13b796110ab27600d700000b00004e01000000014e00000000000000"
            "000000"
            "0159738f6ee8012e13b796110ab27600d700000a00004e01000000014e01000b00791c179300000159738f6b00012e13"
            "b79611"
            "0ab27600d700000a00004e01000000014e000000000000000000000159738f5f48012e13b796110ab27600d700000b00"
            "004e01"
            "000000014e01000b00791c17930400009671"),
        "Teltonika AVL 4 records", "", hex("00000004"));
    row("Teltonika codec 12 response", "teltonika",
        hex("00000000000000900C010600000088494E493A323031392F372F323220373A3232205254433A323031392F372F323220"
            "373A35"
            "33205253543A32204552523A312053523A302042523A302043463A302046473A3020464C3A302054553A302F30205554"
            "3A3020"
            "534D533A30204E4F4750533A303A3330204750533A31205341543A302052533A332052463A36352053463A31204D443A"
            "300100"
            "00C78F"),
        "Teltonika response (codec 12)", "", {});
    // The login and the server's answer "78 78 05 01 00 01 D9 DC 0D 0A" are the GT06 document's.
    row("GT06 login, document", "gt06", Gt06Login, "GT06 login", "123456789012345",
        hex("787805010001D9DC0D0A"));
    // Traccar Gt06ProtocolDecoderTest.
    row("GT06 heartbeat", "gt06", hex("7878151330802b00000642014f0008720000802b5ee4d4c90d0a"),
        "GT06 heartbeat", "", hex("787805135EE410B50D0A"));
    row("GT06 location", "gt06",
        hex("787822220F0C1D023305C9027AC8180C46586000140001CC00287D001F71000001000820860D0A"),
        "GT06 location", "", hex("787805220008A8420D0A"));
    row("GT06 alarm", "gt06",
        hex("7878251613020C12141AC5027951430C2A16F60014000900000000001A00007C550300020002F1E70D0A"),
        "GT06 alarm", "", hex("787805160002E2D70D0A"));
    row("GT06 79 79 location", "gt06",
        hex("7979004a321106170c1b180cc900a875580b7ab4f00010350901fe0a007c0009112424007c000912240081004efe2100"
            "c5001"
            "00f1200000000000000000000000000000000000000000000bc7c900d0a"),
        "GT06 location", "", hex("797900053200BCEDD10D0A"));
    row("GT06 79 79 information", "gt06",
        hex("79790020940a035985708236675805200502187214018966051912408052452f000355560d0a"),
        "GT06 information", "", {});
    // Traccar H02ProtocolDecoderTest; the heartbeat is in the form of the H02 document.
    row("H02 text", "h02",
        "*HQ,4210209006,V1,054048,A,2828.2297,N,07733.4332,E,000.5,047,4,080918,EEE7FBDF,4261193,0#",
        "H02 location (V1)", "4210209006", {});
    row("H02 heartbeat", "h02", "*HQ,4106012736,HTBT,100#", "H02 heartbeat (HTBT)", "4106012736",
        "*HQ,4106012736,HTBT#");
    row("H02 binary, 45 bytes", "h02",
        hex("24410600082621532131081504419390060740418306000000fffffbfdff0015060000002c02dc0c000000001f"),
        "H02 location (binary)", "4106000826", {});
    // Traccar MeitrackProtocolDecoderTest (the text frames there end without their CR LF).
    row("Meitrack AAA", "meitrack",
        "$$D149,867047043162018,AAA,35,-1.264865,36.800705,211001105240,A,9,20,41.0,323,1,1697,1,0,000|00||,"
        "0000,"
        "4.33|12.96|1.92|2.72|2.69,0.000000|0|0.000000,*E1\r\n",
        "Meitrack location (AAA)", "867047043162018", {});
    row("Meitrack reply", "meitrack", "$$D28,353358017784062,D03,OK*F3\r\n", "Meitrack response (D03)",
        "353358017784062", {});
    row("Meitrack CCE, binary", "meitrack",
        hex("2424413132332c3836313538353034333230303836322c4343452c010000000100590015000305010609071b0b081c00"
            "0939010a"
            "07000b1700199e011a9505921a0099c4089c5500c93e00405a000602a8b114000343f12e0604d18806270c654a2e000d"
            "a20537"
            "009bb8963904010e0c0d020300aa7a0af69e0100002a35340d0a"),
        "Meitrack location (CCE)", "861585043200862", {});
    // Traccar Gps103ProtocolDecoderTest (the reports there end without their ';').
    row("TK103 login", "tk103", "##,imei:359586015829802,A;", "TK103 login", "359586015829802", "LOAD");
    row("TK103 heartbeat", "tk103", "359586015829802;", "TK103 heartbeat", "359586015829802", "ON");
    row("TK103 help me", "tk103",
        "imei:359586015829802,help me,0809231429,13554900601,F,062947.294,A,2234.4026,N,11354.3277,E,0.00,;",
        "TK103 alarm (help me)", "359586015829802", "**,imei:359586015829802,E;");
    // Queclink GL200 @Track protocol document: the heartbeat and its SACK. Traccar
    // Gl200TextProtocolDecoderTest: the report.
    row("Queclink heartbeat", "queclink", "+ACK:GTHBD,060100,135790246811220,,20100214093254,11F0$",
        "Queclink heartbeat (GTHBD)", "135790246811220", "+SACK:GTHBD,060100,11F0$");
    row("Queclink FRI", "queclink",
        "+RESP:GTFRI,DF0200,868487004353181,cv100,14051,10,1,0,0.0,0,264.1,114.015515,22.537178,"
        "20210608064328,"
        "0460,0001,25F8,061A7D02,,0.0,,,,100,21,,,,20210608144354,32DB$",
        "Queclink location (GTFRI)", "868487004353181", "+SACK:32DB$");
    // An NMEA 0183 example of common use.
    row("NMEA RMC", "nmea", NmeaRmc, "NMEA GPRMC", "", {});
}

void tst_FrameSplitter::splitsRealFrames()
{
    QFETCH(QString, option);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, summary);
    QFETCH(QString, deviceId);
    QFETCH(QByteArray, answer);

    for (const QString &choice : {option, QStringLiteral("auto")}) {
        FrameSplitter splitter = splitterFor(choice);
        const FrameSplitter::Result result = splitter.feed(bytes);
        QCOMPARE(result.frames.size(), 1);
        const TrackerFrame frame = result.frames.first();
        QCOMPARE(frame.bytes, bytes);
        QCOMPARE(frame.summary(), summary);
        QCOMPARE(result.note(), summary);
        QCOMPARE(frame.deviceId, deviceId);
        QVERIFY(frame.intact());
        QCOMPARE(acknowledgement(frame), answer);
        QCOMPARE(protocolName(*splitter.protocol()).toLower(), option);

        // Split at every position: the first part waits whole, the second completes the frame.
        for (qsizetype at = 1; at < bytes.size(); ++at) {
            FrameSplitter split = splitterFor(choice);
            const FrameSplitter::Result first = split.feed(QByteArrayView(bytes).first(at));
            QCOMPARE(first.waiting, at);
            QCOMPARE(first.note(), QStringLiteral("partial frame"));
            const FrameSplitter::Result second = split.feed(QByteArrayView(bytes).sliced(at));
            QCOMPARE(second.frames.size(), 1);
            QCOMPARE(second.frames.first().bytes, bytes);
            QCOMPARE(second.waiting, 0);
        }

        // Garbage before three frames in one chunk: skipped up to the first frame.
        FrameSplitter merged = splitterFor(choice);
        const QByteArray garbage("\x01\x02\x03\x04\x05", 5);
        const FrameSplitter::Result three = merged.feed(garbage + bytes + bytes + bytes);
        QCOMPARE(three.note(), QStringLiteral("3 frames; resynchronised: 5 bytes skipped"));
        for (const TrackerFrame &each : three.frames)
            QCOMPARE(each.bytes, bytes);
    }
}

void tst_FrameSplitter::marksBadFrames_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("note");

    QByteArray wrongCrc = TeltonikaCodec8;
    wrongCrc[wrongCrc.size() - 1] = char(0xCE);
    // N2 differs from N1, under a CRC that fits.
    QByteArray countsDiffer = TeltonikaCodec8;
    countsDiffer[countsDiffer.size() - 5] = 2;
    const quint16 crc = crc16Ibm(QByteArrayView(countsDiffer).sliced(8, countsDiffer.size() - 12));
    countsDiffer[countsDiffer.size() - 2] = char(crc >> 8);
    countsDiffer[countsDiffer.size() - 1] = char(crc);
    QByteArray gt06 = Gt06Login;
    gt06[gt06.size() - 3] = 0;

    const auto row = [](const char *name, const char *option, const QByteArray &bytes, const char *note) {
        QTest::newRow(name) << QString::fromLatin1(option) << bytes << QString::fromLatin1(note);
    };
    row("Teltonika CRC", "teltonika", wrongCrc, "Teltonika AVL 1 record; bad checksum");
    row("Teltonika counts", "teltonika", countsDiffer, "Teltonika AVL 1 record; record counts differ");
    row("GT06 CRC", "gt06", gt06, "GT06 login; bad checksum");
    row("Meitrack", "meitrack", "$$D28,353358017784062,D03,OK*F4\r\n",
        "Meitrack response (D03); bad checksum");
    // The sentence cut short after E, with the checksum of the whole one.
    row("NMEA", "nmea", "$GPRMC,123519,A,4807.038,N,01131.000,E*6A\r\n", "NMEA GPRMC; bad checksum");
}

void tst_FrameSplitter::marksBadFrames()
{
    QFETCH(QString, option);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, note);
    FrameSplitter splitter = splitterFor(option);
    const FrameSplitter::Result result = splitter.feed(bytes);
    QCOMPARE(result.frames.size(), 1);
    QCOMPARE(result.frames.first().bytes, bytes);
    QVERIFY(!result.frames.first().intact());
    QCOMPARE(result.note(), note);
    QVERIFY(acknowledgement(result.frames.first()).isEmpty());
}

void tst_FrameSplitter::holdsAtMostTheBound()
{
    // A Teltonika packet of exactly the bound, fed in pieces, frames; one byte longer is no
    // frame: its header is skipped at once rather than held.
    const auto packet = [](qsizetype length) {
        QByteArray data(length - 12, '\x55');
        data[0] = 0x08;
        data[1] = data[data.size() - 1] = 1;
        QByteArray bytes = hex("00000000") + QByteArray(4, '\0') + data + QByteArray(4, '\0');
        qToBigEndian(quint32(data.size()), bytes.data() + 4);
        qToBigEndian(quint32(crc16Ibm(data)), bytes.data() + bytes.size() - 4);
        return bytes;
    };
    const QByteArray largest = packet(FrameSplitter::BufferLimit);
    FrameSplitter splitter = splitterFor(QStringLiteral("teltonika"));
    QList<QByteArray> pieces;
    for (qsizetype at = 0; at < largest.size(); at += 4000)
        pieces.append(largest.mid(at, 4000));
    const QList<TrackerFrame> frames = framesOf(splitter, pieces);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames.first().bytes, largest);
    QVERIFY(frames.first().intact());

    // Detecting, so that no 0xFF in the skipped bytes is taken for a Teltonika ping.
    const QByteArray tooLong = packet(FrameSplitter::BufferLimit + 1);
    const FrameSplitter::Result result = FrameSplitter(ProtocolChoice::detect()).feed(tooLong.first(16));
    QCOMPARE(result.note(), QStringLiteral("resynchronised: 16 bytes skipped"));
    QCOMPARE(splitterFor(QStringLiteral("gt06")).feed(hex("7979FFFF01")).note(),
             QStringLiteral("resynchronised: 5 bytes skipped"));
}

void tst_FrameSplitter::detectionFixesTheProtocol()
{
    FrameSplitter splitter(ProtocolChoice::detect());
    QVERIFY(!splitter.protocol());
    const FrameSplitter::Result result = splitter.feed(Gt06Login + NmeaRmc + Gt06Login);
    QCOMPARE(splitter.protocol(), TrackerProtocol::GT06);
    QCOMPARE(result.frames.size(), 2);
    QCOMPARE(result.skipped, NmeaRmc.size());

    // A chosen protocol is the only one tried.
    FrameSplitter nmea = splitterFor(QStringLiteral("NMEA"));
    QVERIFY(nmea.feed(Gt06Login + TeltonikaCodec8).frames.isEmpty());
    QCOMPARE(nmea.feed(NmeaRmc).frames.size(), 1);
}

void tst_FrameSplitter::detectionStopsOnUnknownBytes()
{
    FrameSplitter splitter(ProtocolChoice::detect());
    const QByteArray unknown(FrameSplitter::DetectionLimit + 100, '\x01');
    const FrameSplitter::Result result = splitter.feed(unknown);
    QVERIFY(result.detectionStopped && result.skipped >= FrameSplitter::DetectionLimit);
    QCOMPARE(result.skipped + result.unexamined, unknown.size());
    QVERIFY(result.note().endsWith(QLatin1StringView("no known protocol found: framing stopped")));
    const FrameSplitter::Result later = splitter.feed(Gt06Login);
    QCOMPARE(later.unexamined, Gt06Login.size());
    QVERIFY(later.note().isEmpty());
}

void tst_FrameSplitter::learnsTheH02BinaryLength()
{
    // Traccar H02FrameDecoderTest: a 32-byte binary frame and a text frame in one chunk. The
    // first binary frame alone would wait for what follows it; later ones do not.
    const QByteArray binary = hex("2441060116601245431311165035313006004318210e000000fffffbffff0024");
    const QByteArray text = "*HQ,4106011660,V1,124552,A,5035.3129,N,00431.8211,E,000.20,000,131116,FFFFBFFF#";
    FrameSplitter splitter = splitterFor(QStringLiteral("h02"));
    QCOMPARE(splitter.feed(binary).waiting, binary.size());
    const FrameSplitter::Result both = splitter.feed(text);
    QCOMPARE(both.frames.size(), 2);
    QCOMPARE(both.frames.at(0).bytes, binary);
    QCOMPARE(both.frames.at(1).bytes, text);
    QCOMPARE(splitter.feed(binary).frames.size(), 1);
}

void tst_FrameSplitter::teltonikaSessionKeepsItsImei()
{
    // After the handshake a lone 0xFF is the device's ping.
    FrameSplitter splitter(ProtocolChoice::detect());
    const QList<TrackerFrame> frames =
        framesOf(splitter, {hex("000F333536333037303432343431303133FF"), TeltonikaCodec8});
    QCOMPARE(frames.size(), 3);
    QCOMPARE(frames.at(1).summary(), QStringLiteral("Teltonika ping"));
    QCOMPARE(splitter.deviceId(), QStringLiteral("356307042441013"));
}

QTEST_GUILESS_MAIN(tst_FrameSplitter)
#include "tst_framesplitter.moc"
