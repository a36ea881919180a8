// GT06 and other Concox trackers (Concox "GT06 GPS Tracker Communication Protocol", sections
// 5.1 login, 5.2 location data, 5.3 status information, 5.4 alarm data). The content between
// the protocol number and the serial number:
//   login 0x01: the IMEI as 8 BCD bytes.
//   location 0x12 (0x22 adds ACC, the upload mode and the re-upload flag): date and time as
//     binary YY MM DD hh mm ss (UTC); GPS information (high nibble its length, low nibble the
//     satellites); latitude and longitude as unsigned 4-byte values in 1/30000 minutes; speed
//     (km/h, 1 byte); course and status (2 bytes: course in bits 0-9, latitude north in bit 10,
//     longitude west in bit 11, positioned in bit 12); MCC (2), MNC (1), LAC (2), cell id (3).
//   alarm 0x16 (and 0x26): the same GPS part, then the LBS part with its length byte first, the
//     terminal information, voltage level, GSM signal, alarm and language.
//   status 0x13: terminal information (ACC in bit 1, alarm in bits 3-5), voltage level (0-6),
//     GSM signal (0-4), alarm and language.

#include "decoding.h"
#include "hexdigits.h"

namespace Decoding {

namespace {

constexpr double UnitsPerDegree = 1'800'000.0;
constexpr quint16 Positioned = 0x1000;
constexpr quint16 West = 0x0800;
constexpr quint16 North = 0x0400;
constexpr quint16 CourseBits = 0x03FF;

QByteArrayView alarmName(quint8 alarm)
{
    static constexpr std::string_view names[] = {"normal", "sos", "power_cut", "shock", "fence_in", "fence_out"};
    return alarm < std::size(names) ? QByteArrayView(names[alarm].data(), qsizetype(names[alarm].size()))
                                    : QByteArrayView();
}

void addAlarm(FieldList &fields, quint8 alarm)
{
    const QByteArrayView name = alarmName(alarm);
    if (name.isEmpty())
        fields.addHex("alarm", alarm, 2);
    else
        fields.add("alarm", name);
}

void readCell(FrameReader &reader, FieldList &fields)
{
    fields.add("mcc", reader.u16());
    fields.add("mnc", reader.u8());
    fields.add("lac", reader.u16());
    fields.add("cid", qint64(reader.unsignedOf(3)));
}

void readGps(FrameReader &reader, PositionRecord &record)
{
    const int year = reader.u8(), month = reader.u8(), day = reader.u8();
    const int hour = reader.u8(), minute = reader.u8(), second = reader.u8();
    record.fixTimeMs = utcMs(2000 + year, month, day, hour, minute, second);
    record.satellites = reader.u8() & 0x0F;
    const double latitude = reader.u32() / UnitsPerDegree;
    const double longitude = reader.u32() / UnitsPerDegree;
    record.speedKmh = reader.u8();
    const quint16 status = reader.u16();
    record.latitude = status & North ? latitude : -latitude;
    record.longitude = status & West ? -longitude : longitude;
    record.courseDeg = status & CourseBits;
    record.valid = (status & Positioned) != 0;
}

// Terminal information, voltage level, GSM signal, alarm and language.
void readStatus(FrameReader &reader, FieldList &fields)
{
    const quint8 terminal = reader.u8();
    fields.addHex("terminal", terminal, 2);
    fields.add("voltage", reader.u8());
    fields.add("gsm", reader.u8());
    fields.add("acc", (terminal >> 1) & 1);
    addAlarm(fields, reader.u8());
}

} // namespace

void decodeGt06(const TrackerFrame &frame, DecodedFrame &out)
{
    FrameReader whole(frame.bytes);
    whole.skip(2);
    whole.skip(frame.bytes.startsWith("\x78\x78") ? 1 : 2); // the length
    const quint8 number = whole.u8();
    // The content, before the serial number, the CRC and the stop bytes.
    FrameReader reader(whole.bytes(whole.remaining() - 6));
    switch (number) {
    case 0x01: {
        const QByteArray digits = Hex::upper(reader.bytes(8));
        out.fields.add("imei", digits.startsWith('0') ? QByteArrayView(digits).sliced(1) : QByteArrayView(digits));
        return;
    }
    case 0x13:
        return readStatus(reader, out.fields);
    case 0x12:
    case 0x22: {
        PositionRecord &record = out.addRecord();
        readGps(reader, record);
        readCell(reader, record.fields);
        if (number == 0x22)
            record.fields.add("acc", reader.u8() != 0 ? 1 : 0);
        return;
    }
    case 0x16:
    case 0x26: {
        PositionRecord &record = out.addRecord();
        readGps(reader, record);
        FrameReader lbs(reader.bytes(reader.u8() - 1));
        readCell(lbs, record.fields);
        readStatus(reader, record.fields);
        return;
    }
    default:
        fail(QStringLiteral("no layout known for GT06 message 0x%1").arg(number, 2, 16, QLatin1Char('0')));
    }
}

} // namespace Decoding
