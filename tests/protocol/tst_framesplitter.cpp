#include "acknowledgement.h"
#include "checksums.h"
#include "framesplitter.h"

#include <QtTest>

// Frames that devices sent, as published by the device makers' protocol documents and wikis
// and by the test suite of the open-source Traccar server (its *ProtocolDecoderTest and
// *FrameDecoderTest classes); each row names its source.

namespace {

const auto hex = &QByteArray::fromHex;

// Packet data between four zero bytes with its length and its CRC-16/IBM: a Teltonika packet.
QByteArray teltonikaPacket(const QByteArray &data)
{
    QByteArray packet = QByteArray(8, '\0') + data + QByteArray(4, '\0');
    qToBigEndian(quint32(data.size()), packet.data() + 4);
    qToBigEndian(quint32(crc16Ibm(data)), packet.data() + packet.size() - 4);
    return packet;
}

// Teltonika wiki, "Teltonika Data Sending Protocols": the IMEI handshake and the Codec 8 example.
const QByteArray TeltonikaImei = hex("000F333536333037303432343431303133");
const QByteArray TeltonikaCodec8 = hex("000000000000003608010000016B40D8EA30010000000000000000000000000000"
                                       "000105021503010101425E0F01F10000601A014E0000000000000000010000C7CF");
// The same wiki, Codec 8 sent over UDP, and the server's answer to it.
const QByteArray TeltonikaUdp = hex("003DCAFE0105000F33353230393330383634303336353508010000016B4F815B3001"
                                    "0000000000000000000000000000000103021503010101425DBC000001");
const QByteArray TeltonikaUdpAnswer = hex("0005CAFE010501");
// Traccar Gl200TextProtocolDecoderTest: a Queclink report.
const QByteArray QueclinkFri = "+RESP:GTFRI,DF0200,868487004353181,cv100,14051,10,1,0,0.0,0,264.1,114.015515,"
                               "22.537178,20210608064328,0460,0001,25F8,061A7D02,,0.0,,,,100,21,,,,"
                               "20210608144354,32DB$";
// Concox GT06 protocol document, login packet example.
const QByteArray Gt06Login = hex("78780D01012345678901234500018CDD0D0A");
// An NMEA 0183 example of common use.
const QByteArray NmeaRmc = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n";

} // namespace

class tst_FrameSplitter final : public QObject
{
    Q_OBJECT

private slots:
    void splitsRealFrames_data();
    void splitsRealFrames();
    void splitsStreams_data();
    void splitsStreams();
    void splitsDatagrams_data();
    void splitsDatagrams();
};

void tst_FrameSplitter::splitsRealFrames_data()
{
    QTest::addColumn<QString>("note");
    QTest::addColumn<QString>("deviceId");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("bytes");

    // The note of the frame alone: its summary, which begins with the protocol's name.
    const auto row = [](const char *name, const char *note, const char *deviceId, const QByteArray &answer,
                        const QByteArray &bytes) {
        QTest::newRow(name) << QString::fromLatin1(note) << QString::fromLatin1(deviceId) << answer << bytes;
    };
    // Teltonika wiki: the IMEI handshake, and the Codec 8, 8 Extended and 12 examples.
    row("Teltonika IMEI", "Teltonika IMEI", "356307042441013", hex("01"), TeltonikaImei);
    row("Teltonika codec 8", "Teltonika AVL 1 record", "", hex("00000001"), TeltonikaCodec8);
    row("Teltonika codec 8E", "Teltonika AVL 1 record (codec 8 extended)", "", hex("00000001"),
        hex("000000000000004A8E010000016B412CEE00010000000000000000000000000000000001000500010001010001001100"
            "1D00010010015E2C880002000B000000003544C87A000E000000001DD7E06A00000100002994"));
    row("Teltonika codec 12 response", "Teltonika response (codec 12)", "", {},
        hex("00000000000000900C010600000088494E493A323031392F372F323220373A3232205254433A323031392F372F323220"
            "373A3533205253543A32204552523A312053523A302042523A302043463A302046473A3020464C3A302054553A302F30"
            "2055543A3020534D533A30204E4F4750533A303A3330204750533A31205341543A302052533A332052463A3635205346"
            "3A31204D443A30010000C78F"));
    // Traccar TeltonikaProtocolDecoderTest.
    row("Teltonika codec 8, 4 records", "Teltonika AVL 4 records", "", hex("00000004"),
        hex("000000000000009f080400000159738f76b8012e13b796110ab27600d700000b00004e01000000014e00000000000000"
            "0000000159738f6ee8012e13b796110ab27600d700000a00004e01000000014e01000b00791c179300000159738f6b00"
            "012e13b796110ab27600d700000a00004e01000000014e000000000000000000000159738f5f48012e13b796110ab276"
            "00d700000b00004e01000000014e01000b00791c17930400009671"));
    // The login and the server's answer "78 78 05 01 00 01 D9 DC 0D 0A" are the GT06 document's.
    row("GT06 login, document", "GT06 login", "123456789012345", hex("787805010001D9DC0D0A"), Gt06Login);
    // Traccar Gt06ProtocolDecoderTest.
    row("GT06 heartbeat", "GT06 heartbeat", "", hex("787805135EE410B50D0A"),
        hex("7878151330802b00000642014f0008720000802b5ee4d4c90d0a"));
    row("GT06 location", "GT06 location", "", hex("787805220008A8420D0A"),
        hex("787822220F0C1D023305C9027AC8180C46586000140001CC00287D001F71000001000820860D0A"));
    row("GT06 alarm", "GT06 alarm", "", hex("787805160002E2D70D0A"),
        hex("7878251613020C12141AC5027951430C2A16F60014000900000000001A00007C550300020002F1E70D0A"));
    row("GT06 79 79 location", "GT06 location", "", hex("797900053200BCEDD10D0A"),
        hex("7979004a321106170c1b180cc900a875580b7ab4f00010350901fe0a007c0009112424007c000912240081004efe2100"
            "c500100f1200000000000000000000000000000000000000000000bc7c900d0a"));
    row("GT06 79 79 information", "GT06 information", "", {},
        hex("79790020940a035985708236675805200502187214018966051912408052452f000355560d0a"));
    // Traccar H02ProtocolDecoderTest; the heartbeat is in the form of the H02 document.
    row("H02 text", "H02 location (V1)", "4210209006", {},
        "*HQ,4210209006,V1,054048,A,2828.2297,N,07733.4332,E,000.5,047,4,080918,EEE7FBDF,4261193,0#");
    row("H02 heartbeat", "H02 heartbeat (HTBT)", "4106012736", "*HQ,4106012736,HTBT#",
        "*HQ,4106012736,HTBT,100#");
    row("H02 binary, 45 bytes", "H02 location (binary)", "4106000826", {},
        hex("24410600082621532131081504419390060740418306000000fffffbfdff0015060000002c02dc0c000000001f"));
    // Traccar MeitrackProtocolDecoderTest (the text frames there end without their CR LF).
    row("Meitrack AAA", "Meitrack location (AAA)", "867047043162018", {},
        "$$D149,867047043162018,AAA,35,-1.264865,36.800705,211001105240,A,9,20,41.0,323,1,1697,1,0,"
        "000|00||,0000,4.33|12.96|1.92|2.72|2.69,0.000000|0|0.000000,*E1\r\n");
    row("Meitrack reply", "Meitrack response (D03)", "353358017784062", {},
        "$$D28,353358017784062,D03,OK*F3\r\n");
    row("Meitrack CCE, binary", "Meitrack location (CCE)", "861585043200862", {},
        hex("2424413132332c3836313538353034333230303836322c4343452c010000000100590015000305010609071b0b081c00"
            "0939010a07000b1700199e011a9505921a0099c4089c5500c93e00405a000602a8b114000343f12e0604d18806270c65"
            "4a2e000da20537009bb8963904010e0c0d020300aa7a0af69e0100002a35340d0a"));
    // Traccar Gps103ProtocolDecoderTest (the reports there end without their ';').
    row("TK103 login", "TK103 login", "359586015829802", "LOAD", "##,imei:359586015829802,A;");
    row("TK103 heartbeat", "TK103 heartbeat", "359586015829802", "ON", "359586015829802;");
    row("TK103 help me", "TK103 alarm (help me)", "359586015829802", "**,imei:359586015829802,E;",
        "imei:359586015829802,help me,0809231429,13554900601,F,062947.294,A,2234.4026,N,11354.3277,E,0.00,;");
    // Queclink GL200 @Track protocol document: the heartbeat and its SACK. Traccar
    // Gl200TextProtocolDecoderTest: the report.
    row("Queclink heartbeat", "Queclink heartbeat (GTHBD)", "135790246811220", "+SACK:GTHBD,060100,11F0$",
        "+ACK:GTHBD,060100,135790246811220,,20100214093254,11F0$");
    row("Queclink FRI", "Queclink location (GTFRI)", "868487004353181", "+SACK:32DB$", QueclinkFri);
    row("NMEA RMC", "NMEA GPRMC", "", {}, NmeaRmc);

    // Broken frames: the faults follow the summary in the note, and no answer goes out.
    QByteArray wrongCrc = TeltonikaCodec8;
    wrongCrc[wrongCrc.size() - 1] = char(0xCE);
    row("Teltonika CRC", "Teltonika AVL 1 record; bad checksum", "", {}, wrongCrc);
    // N2 differs from N1, under a CRC that fits.
    QByteArray counts = TeltonikaCodec8.sliced(8, TeltonikaCodec8.size() - 12);
    counts[counts.size() - 1] = 2;
    row("Teltonika counts", "Teltonika AVL 1 record; record counts differ", "", {}, teltonikaPacket(counts));
    QByteArray gt06 = Gt06Login;
    gt06[gt06.size() - 3] = 0;
    row("GT06 CRC", "GT06 login; bad checksum", "123456789012345", {}, gt06);
    row("Meitrack", "Meitrack response (D03); bad checksum", "353358017784062", {},
        "$$D28,353358017784062,D03,OK*F4\r\n");
    // The sentence cut short after E, with the checksum of the whole one.
    row("NMEA", "NMEA GPRMC; bad checksum", "", {}, "$GPRMC,123519,A,4807.038,N,01131.000,E*6A\r\n");
}

void tst_FrameSplitter::splitsRealFrames()
{
    QFETCH(QString, note);
    QFETCH(QString, deviceId);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, bytes);
    const QString option = note.section(u' ', 0, 0).toLower();
    const QString faults = note.sliced(note.contains(u';') ? note.indexOf(u';') : note.size());

    for (const QString &choice : {option, QStringLiteral("auto")}) {
        FrameSplitter splitter(*protocolChoiceFromName(choice));
        const FrameSplitter::Result result = splitter.feed(bytes);
        QCOMPARE(result.note(), note);
        QCOMPARE(result.frames.size(), std::size_t(1));
        const TrackerFrame &frame = result.frames.front();
        QCOMPARE(frame.bytes.toByteArray(), bytes);
        QCOMPARE(frame.deviceId, deviceId);
        QCOMPARE(frame.intact(), faults.isEmpty());
        QCOMPARE(acknowledgement(frame), answer);
        QCOMPARE(protocolName(*splitter.protocol()).toLower(), option);

        // Split at every position: the first part waits whole, the second completes the frame.
        for (qsizetype at = 1; at < bytes.size(); ++at) {
            FrameSplitter split(*protocolChoiceFromName(choice));
            const FrameSplitter::Result first = split.feed(QByteArrayView(bytes).first(at));
            QCOMPARE(first.waiting, at);
            QCOMPARE(first.note(), QStringLiteral("partial frame"));
            const FrameSplitter::Result second = split.feed(QByteArrayView(bytes).sliced(at));
            QCOMPARE(second.note(), note);
            QCOMPARE(second.frames.size(), std::size_t(1));
            QCOMPARE(second.frames.front().bytes.toByteArray(), bytes);
        }

        // Garbage before three frames in one chunk: skipped up to the first frame.
        FrameSplitter merged(*protocolChoiceFromName(choice));
        const FrameSplitter::Result three = merged.feed("\x01\x02\x03\x04\x05" + bytes + bytes + bytes);
        QCOMPARE(three.note(), QStringLiteral("3 frames%1; resynchronised: 5 bytes skipped").arg(faults));
        for (const TrackerFrame &each : three.frames)
            QCOMPARE(each.bytes.toByteArray(), bytes);
    }
}

void tst_FrameSplitter::splitsStreams_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QStringList>("notes");
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("deviceId");

    // The notes of the chunks, one after the other, separated by '|'.
    const auto row = [](const char *name, const char *option, const QList<QByteArray> &chunks,
                        const QByteArray &notes, const char *protocol, const char *deviceId = "") {
        QTest::newRow(name) << QString::fromLatin1(option) << chunks << QString::fromLatin1(notes).split(u'|')
                            << QString::fromLatin1(protocol) << QString::fromLatin1(deviceId);
    };
    row("detection fixes the protocol", "auto", {Gt06Login + NmeaRmc + Gt06Login},
        "2 frames; resynchronised: 70 bytes skipped", "GT06", "123456789012345");
    row("a chosen protocol is the only one tried", "NMEA", {Gt06Login + TeltonikaCodec8, NmeaRmc},
        "resynchronised: 84 bytes skipped|NMEA GPRMC", "NMEA");
    // Nothing known within the limit: detection stops, and later bytes are not looked at.
    row("detection stops", "auto", {QByteArray("+\x01").repeated(FrameSplitter::DetectionLimit), Gt06Login},
        "resynchronised: 16384 bytes skipped; no known protocol found: framing stopped|", "");
    // After the handshake a lone 0xFF is the device's ping, and the IMEI stays the connection's.
    row("Teltonika ping", "auto", {TeltonikaImei + hex("FF"), TeltonikaCodec8, hex("FF")},
        "2 frames|Teltonika AVL 1 record|Teltonika ping", "Teltonika", "356307042441013");
    // Traccar H02FrameDecoderTest: a 32-byte binary frame and a text frame. The first binary
    // frame alone waits for what follows it; later ones do not.
    const QByteArray binary = hex("2441060116601245431311165035313006004318210e000000fffffbffff0024");
    row("H02 binary length learnt", "h02",
        {binary, "*HQ,4106011660,V1,124552,A,5035.3129,N,00431.8211,E,000.20,000,131116,FFFFBFFF#", binary},
        "partial frame|2 frames|H02 location (binary)", "H02", "4106011660");

    // A packet of exactly the bound frames, fed in pieces; one byte longer is no frame: its
    // header is skipped at once rather than held, and, detecting, no 0xFF in it is taken for
    // a Teltonika ping.
    QByteArray data = hex("0801") + QByteArray(FrameSplitter::BufferLimit - 15, '\x55') + hex("01");
    const QByteArray largest = teltonikaPacket(data);
    QList<QByteArray> pieces;
    for (qsizetype at = 0; at < largest.size(); at += 4000)
        pieces.append(largest.mid(at, 4000));
    row("the bound", "teltonika", pieces,
        QByteArray("partial frame|").repeated(16) + "Teltonika AVL 1 record", "Teltonika");
    const QByteArray tooLong = teltonikaPacket(data.insert(2, '\x55'));
    row("over the bound", "auto", {tooLong.first(16)}, "resynchronised: 16 bytes skipped", "");
    row("GT06 over the bound", "gt06", {hex("7979FFFF01")}, "resynchronised: 5 bytes skipped", "GT06");
}

void tst_FrameSplitter::splitsStreams()
{
    QFETCH(QString, option);
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QStringList, notes);
    QFETCH(QString, protocol);
    QFETCH(QString, deviceId);

    FrameSplitter splitter(*protocolChoiceFromName(option));
    qsizetype waiting = 0;
    for (qsizetype i = 0; i < chunks.size(); ++i) {
        const FrameSplitter::Result result = splitter.feed(chunks.at(i));
        QCOMPARE(result.note(), notes.value(i));
        // Every byte fed is counted once.
        qsizetype counted = result.skipped + result.unexamined + result.waiting - waiting;
        for (const TrackerFrame &frame : result.frames)
            counted += frame.bytes.size();
        QCOMPARE(counted, chunks.at(i).size());
        waiting = result.waiting;
    }
    QCOMPARE(splitter.protocol() ? protocolName(*splitter.protocol()) : QString(), protocol);
    QCOMPARE(splitter.deviceId(), deviceId);
}

void tst_FrameSplitter::splitsDatagrams_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QList<QByteArray>>("datagrams");
    QTest::addColumn<QStringList>("notes");
    QTest::addColumn<QList<QByteArray>>("answers");
    QTest::addColumn<QString>("deviceId");

    // The notes of the datagrams separated by '|', and the answers to each datagram's frames.
    const auto row = [](const char *name, const char *option, const QList<QByteArray> &datagrams, const char *notes,
                        const QList<QByteArray> &answers, const char *deviceId) {
        QTest::newRow(name) << QString::fromLatin1(option) << datagrams << QString::fromLatin1(notes).split(u'|')
                            << answers << QString::fromLatin1(deviceId);
    };
    row("Teltonika wiki UDP example", "teltonika", {TeltonikaUdp}, "Teltonika AVL 1 record", {TeltonikaUdpAnswer},
        "352093086403655");
    row("Teltonika UDP detected", "auto", {TeltonikaUdp, TeltonikaUdp}, "Teltonika AVL 1 record|Teltonika AVL 1 record",
        {TeltonikaUdpAnswer, TeltonikaUdpAnswer}, "352093086403655");
    // A datagram cut short is skipped, not held: the next one stands alone.
    row("Teltonika UDP cut short", "teltonika", {TeltonikaUdp.chopped(1), TeltonikaUdp},
        "resynchronised: 62 bytes skipped|Teltonika AVL 1 record", {{}, TeltonikaUdpAnswer}, "352093086403655");
    QByteArray counts = TeltonikaUdp;
    counts[counts.size() - 1] = 2;
    row("Teltonika UDP counts", "teltonika", {counts}, "Teltonika AVL 1 record; record counts differ", {{}},
        "352093086403655");
    // A packet as it goes over TCP is no Teltonika frame in a datagram.
    row("Teltonika TCP packet in a datagram", "teltonika", {TeltonikaCodec8}, "resynchronised: 66 bytes skipped",
        {{}}, "");
    row("Queclink over UDP", "auto", {QueclinkFri, QueclinkFri.chopped(1)},
        "Queclink location (GTFRI)|resynchronised: 163 bytes skipped", {"+SACK:32DB$", {}}, "868487004353181");
    row("H02 over UDP", "auto", {"*HQ,4106012736,HTBT,100#"}, "H02 heartbeat (HTBT)", {"*HQ,4106012736,HTBT#"},
        "4106012736");
}

void tst_FrameSplitter::splitsDatagrams()
{
    QFETCH(QString, option);
    QFETCH(QList<QByteArray>, datagrams);
    QFETCH(QStringList, notes);
    QFETCH(QList<QByteArray>, answers);
    QFETCH(QString, deviceId);

    FrameSplitter splitter(*protocolChoiceFromName(option), FrameSplitter::Transport::Datagram);
    for (qsizetype i = 0; i < datagrams.size(); ++i) {
        const FrameSplitter::Result result = splitter.feed(datagrams.at(i));
        QCOMPARE(result.note(), notes.value(i));
        QCOMPARE(result.waiting, 0);
        QCOMPARE(acknowledgements(result.frames).bytes, answers.value(i));
    }
    QCOMPARE(splitter.deviceId(), deviceId);
}

QTEST_GUILESS_MAIN(tst_FrameSplitter)
#include "tst_framesplitter.moc"
