// H02 trackers (the H02 protocol document of Sinotrack and others, "*HQ" text and '$' binary
// location reports).
//   Text location "*HQ,<id>,V1,<hhmmss>,<A|V>,<ddmm.mmmm>,<N|S>,<dddmm.mmmm>,<E|W>,<speed in
//   knots>,<course>,<ddmmyy>,<status word in hex>,...#", times UTC; "*HQ,<id>,HTBT,...#" is the
//   heartbeat.
//   Binary location, 32 or 45 bytes: '$', the device id (5 BCD bytes), hhmmss and ddmmyy
//   (3 BCD bytes each), the latitude as ddmm.mmmm (4 BCD bytes), one byte of the device's own,
//   the longitude as dddmm.mmmm (9 BCD digits) and a nibble of flags (bit 3 east, bit 2 north,
//   bit 1 valid), speed in knots and course (3 BCD digits each), the status word (4 bytes); the
//   45-byte frame appends cell data.

#include "decoding.h"
#include "framing.h"
#include "hexdigits.h"

namespace Decoding {

namespace {

// BCD digits of a binary frame as text.
QByteArray bcdDigits(FrameReader &reader, qsizetype bytes)
{
    return Hex::upper(reader.bytes(bytes));
}

void decodeBinary(FrameReader &reader, DecodedFrame &out)
{
    reader.skip(6); // '$' and the device id
    const QByteArray time = bcdDigits(reader, 3);
    const QByteArray date = bcdDigits(reader, 3);
    const QByteArray latitude = bcdDigits(reader, 4);
    reader.skip(1);
    const QByteArray longitude = bcdDigits(reader, 5);
    const QByteArray motion = bcdDigits(reader, 3);
    const quint32 status = reader.u32();
    const int flags = Hex::digitValue(longitude.back());

    PositionRecord &record = out.addRecord();
    record.fixTimeMs = dateAndTime(date, time);
    record.latitude = degreesMinutes(latitude.first(4) + '.' + latitude.sliced(4), flags & 4 ? "N" : "S", "latitude");
    record.longitude =
        degreesMinutes(longitude.first(5) + '.' + longitude.sliced(5, 4), flags & 8 ? "E" : "W", "longitude");
    record.valid = (flags & 2) != 0;
    record.speedKmh = requiredNumber(motion.first(3), "speed") * KmhPerKnot;
    record.courseDeg = requiredNumber(motion.sliced(3), "course");
    record.fields.addHex("status", status, 8);
}

} // namespace

void decodeH02(const TrackerFrame &frame, DecodedFrame &out)
{
    FrameReader reader(frame.bytes);
    if (frame.bytes.startsWith('$'))
        return decodeBinary(reader, out);
    FrameReader body(Framing::textBody(frame.bytes));
    body.skip(4); // "*HQ,"
    body.skipFields();
    const QByteArrayView type = body.field();
    if (type == "HTBT") {
        out.fields.add("type", type);
        return;
    }
    if (type != "V1")
        fail(QStringLiteral("no layout known for H02 message %1").arg(QString::fromLatin1(type)));
    const QByteArrayView time = body.field();
    PositionRecord &record = out.addRecord();
    readRmcFix(body, record);
    record.courseDeg = number(body.field(), "course");
    record.fixTimeMs = dateAndTime(body.field(), time);
    if (!body.hasField())
        return;
    bool ok = false;
    const QByteArrayView status = body.field();
    const quint32 word = status.toUInt(&ok, 16);
    if (!ok)
        fail(QStringLiteral("status word '%1' is no hexadecimal number").arg(QString::fromLatin1(status)));
    record.fields.addHex("status", word, 8);
}

} // namespace Decoding
