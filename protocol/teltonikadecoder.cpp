// Teltonika FM devices (Teltonika wiki, "Teltonika Data Sending Protocols", sections "Codec 8",
// "Codec 8 Extended", "Codec 16" and "Codec 12"). An AVL packet's data is the codec id, the
// record count, the records and the count again. A record is its time (ms since 1970, 8 bytes),
// priority (1), GPS element (longitude and latitude as signed 4-byte values / 10^7, altitude 2,
// angle 2, satellites 1, speed 2 in km/h) and IO element: the event IO id, the total count, then
// the 1-, 2-, 4- and 8-byte values, each group with its count and each value with its id.
// Codec 8 has 1-byte ids and counts; 8 Extended 2-byte ones and a last group of variable-length
// values (each with a 2-byte length); Codec 16 2-byte ids, 1-byte counts, and the record's
// generation type after the event id. Codec 12 carries commands and responses as text. Over UDP
// the same codec data follows a header of its own (length, packet id, an unused byte, AVL packet
// id, the IMEI's length and the IMEI) with neither the four zero bytes nor a CRC.

#include "decoding.h"
#include "hexdigits.h"

#include <array>

namespace Decoding {

namespace {

constexpr qsizetype PacketHeader = 8;
constexpr qsizetype PacketTrailer = 4;
// Over UDP: the length, packet id, unused byte and AVL packet id before the IMEI's length.
constexpr qsizetype UdpImeiAt = 6;

struct Codec
{
    int idSize;    // bytes of an IO id, and of the event IO id
    int countSize; // bytes of the total and of each group's count
    bool generationType;
    bool variableGroup;
};

std::optional<Codec> codecOf(quint8 id)
{
    switch (id) {
    case 0x08:
        return Codec{1, 1, false, false};
    case 0x8E:
        return Codec{2, 2, false, true};
    case 0x10:
        return Codec{2, 1, true, false};
    default:
        return std::nullopt;
    }
}

// "io" and the id, the name of an IO element's field.
std::string_view ioName(std::array<char, 8> &room, quint64 id)
{
    room = {'i', 'o'};
    qsizetype length = 2;
    char digits[6];
    int count = 0;
    do {
        digits[count++] = char('0' + id % 10);
        id /= 10;
    } while (id != 0);
    while (count > 0)
        room[std::size_t(length++)] = digits[--count];
    return {room.data(), std::size_t(length)};
}

void readIo(FrameReader &reader, const Codec &codec, FieldList &fields)
{
    fields.add("event", qint64(reader.unsignedOf(codec.idSize)));
    if (codec.generationType)
        fields.add("generation", reader.u8());
    reader.skip(codec.countSize); // the total: the groups' counts say the same
    std::array<char, 8> room{};
    for (const int size : {1, 2, 4, 8}) {
        const quint64 count = reader.unsignedOf(codec.countSize);
        for (quint64 i = 0; i < count; ++i) {
            const std::string_view name = ioName(room, reader.unsignedOf(codec.idSize));
            const quint64 value = reader.unsignedOf(size);
            fields.addUnsigned(name, value);
        }
    }
    if (!codec.variableGroup)
        return;
    const quint64 count = reader.u16();
    for (quint64 i = 0; i < count; ++i) {
        const std::string_view name = ioName(room, reader.u16());
        fields.add(name, Hex::upper(reader.bytes(reader.u16())));
    }
}

void readRecord(FrameReader &reader, const Codec &codec, PositionRecord &record)
{
    record.fixTimeMs = qint64(reader.u64());
    const quint8 priority = reader.u8();
    record.longitude = reader.i32() / 1e7;
    record.latitude = reader.i32() / 1e7;
    record.altitudeM = reader.i16();
    record.courseDeg = reader.u16();
    record.satellites = reader.u8();
    record.speedKmh = reader.u16();
    record.valid = *record.satellites > 0;
    record.fields.add("priority", priority);
    readIo(reader, codec, record.fields);
}

void decodeAvl(FrameReader &reader, const Codec &codec, DecodedFrame &out)
{
    const int count = reader.u8();
    for (int i = 1; i <= count; ++i) {
        try {
            readRecord(reader, codec, out.addRecord());
        } catch (const FrameReader::CutShort &) {
            fail(QStringLiteral("record %1 of %2 cut short").arg(i).arg(count));
        }
    }
    // Only the closing count is left.
    if (reader.remaining() == 0)
        fail(QStringLiteral("the records run into the closing count"));
    if (reader.remaining() != 1)
        fail(QStringLiteral("the records end %1 bytes before the closing count").arg(reader.remaining() - 1));
}

// Codec 12: the count (1), the type (5 command, 6 response), the text's size (4), the text, the
// count again.
void decodeCodec12(FrameReader &reader, DecodedFrame &out)
{
    reader.skip(1);
    const quint8 type = reader.u8();
    const QByteArrayView text = reader.bytes(reader.u32());
    if (type != 0x05 && type != 0x06)
        fail(QStringLiteral("codec 12 type 0x%1 unknown").arg(type, 2, 16, QLatin1Char('0')));
    out.fields.add(type == 0x05 ? "command" : "response", text);
}

// The codec data, from the codec id through the closing count.
void decodeCodecData(FrameReader &reader, DecodedFrame &out)
{
    const quint8 codecId = reader.u8();
    if (codecId == 0x0C)
        return decodeCodec12(reader, out);
    const std::optional<Codec> codec = codecOf(codecId);
    if (!codec)
        fail(QStringLiteral("no layout known for Teltonika codec 0x%1").arg(codecId, 2, 16, QLatin1Char('0')));
    decodeAvl(reader, *codec, out);
}

} // namespace

void decodeTeltonika(const TrackerFrame &frame, DecodedFrame &out)
{
    FrameReader whole(frame.bytes);
    if (frame.bytes.size() == 1)
        return; // the ping says nothing
    if (frame.kind == QLatin1StringView("IMEI")) {
        out.fields.add("imei", whole.bytes(whole.u16()));
        return;
    }
    if (frame.datagram) { // the IMEI is the frame's device identifier already
        whole.skip(UdpImeiAt);
        whole.skip(whole.u16());
        decodeCodecData(whole, out);
        return;
    }
    whole.skip(PacketHeader);
    FrameReader reader(whole.bytes(whole.remaining() - PacketTrailer));
    decodeCodecData(reader, out);
}

} // namespace Decoding
