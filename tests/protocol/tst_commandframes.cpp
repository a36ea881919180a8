#include "checksums.h"
#include "commandframe.h"
#include "trackerprotocol.h"

#include <QtTest>

class tst_CommandFrames final : public QObject
{
    Q_OBJECT

private slots:
    void checkValues();
    void buildsFrames_data();
    void buildsFrames();
    void readsNames();
};

void tst_CommandFrames::checkValues()
{
    // The catalogue check values of each algorithm, and Meitrack's and NMEA's sums.
    QCOMPARE(crc16Ibm("123456789"), 0xBB3D);
    QCOMPARE(crc16X25("123456789"), 0x906E);
    QCOMPARE(meitrackChecksum("\xFF\x02"), 1);
    QCOMPARE(nmeaChecksum("GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,"), 0x47);
    // Every length up to 200 bytes (from 32 on the CRCs are folded), as the bit-by-bit
    // definition gives them.
    const auto bitwise = [](QByteArrayView bytes, quint16 crc, quint16 reflectedPolynomial) {
        for (const char c : bytes) {
            crc ^= quint8(c);
            for (int bit = 0; bit < 8; ++bit)
                crc = (crc & 1) ? quint16((crc >> 1) ^ reflectedPolynomial) : quint16(crc >> 1);
        }
        return crc;
    };
    QByteArray bytes;
    for (int i = 0; i < 200; bytes += char(i * 37 + (i >> 3)), ++i) {
        QCOMPARE(crc16Ibm(bytes), bitwise(bytes, 0, 0xA001));
        QCOMPARE(crc16X25(bytes), quint16(bitwise(bytes, 0xFFFF, 0x8408) ^ 0xFFFF));
    }
}

void tst_CommandFrames::buildsFrames_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("error");

    // A refused payload gives its error and no bytes.
    const auto row = [](const char *name, const char *kind, const QByteArray &payload,
                        const QByteArray &frame, const QByteArray &error = {}) {
        QTest::newRow(name) << QString::fromLatin1(kind) << payload << frame << QString::fromLatin1(error);
    };
    const auto hex = &QByteArray::fromHex;
    // Teltonika wiki, Codec 12 examples.
    row("getinfo", "codec12", "getinfo", hex("000000000000000F0C010500000007676574696E666F0100004312"));
    row("getio", "codec12", "getio", hex("000000000000000D0C010500000005676574696F01000000CB"));
    row("getver", "codec12", "getver", hex("000000000000000E0C010500000006676574766572010000A4C2"));
    // Concox GT06 protocol document, the relay command.
    row("gt06 relay", "gt06", "Relay,1#", hex("787812800c0000000052656c61792c312300009dee0d0a"));
    row("nmea", "nmea", "PMTK605", "$PMTK605*31\r\n");
    row("nmea, leading $ not doubled", "NMEA", "$PMTK605", "$PMTK605*31\r\n");
    row("nmea, checksum below 16", "nmea", "AB,,", "$AB,,*03\r\n");
    row("codec12 empty", "codec12", {}, {}, "The command is empty.");
    row("nmea only $", "nmea", "$", {}, "The command is empty.");

    // The longest payloads the length fields or the sentence hold, and one byte more.
    const QByteArray gt06 = hex("7878ff80f900000000") + QByteArray(245, 'x') + hex("0000");
    const quint16 crc = crc16X25(gt06.sliced(2));
    row("gt06 longest", "GT06", QByteArray(245, 'x'), gt06 + char(crc >> 8) + char(crc) + "\r\n");
    row("nmea longest", "nmea", QByteArray(76, 'A'), '$' + QByteArray(76, 'A') + "*00\r\n");
    row("gt06 too long", "gt06", QByteArray(246, 'x'), {},
        "The command is 246 bytes long; GT06 frames hold at most 245.");
    row("nmea too long", "nmea", QByteArray(77, 'A'), {},
        "The command is 77 bytes long; NMEA frames hold at most 76.");
    for (const char c : {'\r', '\n', '*', '$', '\x7f', '\x80'})
        row(qPrintable(QStringLiteral("nmea byte %1").arg(quint8(c))), "nmea", "PMTK" + QByteArray(1, c), {},
            "An NMEA sentence holds printable ASCII characters other than '$' and '*' only; the command has "
            "byte 0x" + QByteArray(1, c).toHex() + '.');
}

void tst_CommandFrames::buildsFrames()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, frame);
    QFETCH(QString, error);
    const CommandFrame built = buildCommandFrame(*commandFrameKindFromName(kind), payload);
    QCOMPARE(built.error, error);
    QCOMPARE(built.bytes, frame);
}

void tst_CommandFrames::readsNames()
{
    QCOMPARE(commandFrameKindFromName(u"Codec12"), CommandFrameKind::Codec12);
    QCOMPARE(maximumPayload(CommandFrameKind::Codec12), qsizetype(0xFFFFFFFF) - 8);
    QCOMPARE(protocolChoiceFromName(u"AUTO"), ProtocolChoice::detect());
    QCOMPARE(protocolChoiceFromName(u"Tk103"), ProtocolChoice::only(TrackerProtocol::TK103));
    QVERIFY(!protocolChoiceFromName(u"gt6"));
    QCOMPARE(protocolOptionNames().join(u' '),
             QStringLiteral("auto teltonika gt06 h02 meitrack tk103 queclink nmea"));
}

QTEST_GUILESS_MAIN(tst_CommandFrames)
#include "tst_commandframes.moc"
