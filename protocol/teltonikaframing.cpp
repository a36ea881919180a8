// Teltonika FM devices over TCP (Teltonika wiki, "Teltonika Data Sending Protocols"): the
// IMEI handshake (2-byte length, then the IMEI's digits), then packets of four zero bytes, a
// 4-byte data length, the data (codec id, record count N1, records, N2) and a 4-byte
// CRC-16/IBM of the data. Codec 12 to 15 packets carry commands and their responses in the
// same frame. With the open-link timeout the device may also send a single 0xFF as a ping.
//
// Over UDP (the same wiki, "Codec 8" and "Codec 8 Extended", protocol sending over UDP) each
// datagram is one packet: a 2-byte length of what follows, a 2-byte packet id, an unused byte,
// the AVL packet id, a 2-byte IMEI length and the IMEI, then the codec data with neither the
// four zero bytes and length before it nor a CRC after it. The server answers 00 05, the
// packet id, 01, the AVL packet id and the number of records it accepted.

#include "checksums.h"
#include "framing.h"

#include <QtEndian>

#include <algorithm>
#include <array>

namespace Framing {

namespace {

constexpr qsizetype ImeiFrameLength = 17;
constexpr quint8 ImeiLength = 15;
constexpr quint8 Ping = 0xFF;
// Four zero bytes and the data length before the data, the CRC after it.
constexpr qsizetype PacketHeader = 8;
constexpr qsizetype PacketTrailer = 4;
// Codec id, N1 and N2.
constexpr quint32 MinimumData = 3;

// A packet from its header on, which is at hand: the data length within bounds and the codec,
// once there, not a zero or 0xFF byte.
FrameFit fitPacket(QByteArrayView data)
{
    const quint32 dataLength = qFromBigEndian<quint32>(data.data() + 4);
    if (dataLength < MinimumData || dataLength > quint32(MaximumFrame - PacketHeader - PacketTrailer))
        return none();
    if (data.size() > PacketHeader && (byteAt(data, PacketHeader) == 0 || byteAt(data, PacketHeader) == 0xFF))
        return none();
    const qsizetype length = PacketHeader + qsizetype(dataLength) + PacketTrailer;
    return data.size() < length ? partial() : whole(length);
}

FrameFit fitTeltonika(QByteArrayView data, const FramingContext &context)
{
    // Most often a packet's four zero bytes and length are all there, and are read as two words.
    if (data.size() >= PacketHeader && qFromUnaligned<quint32>(data.data()) == 0)
        return fitPacket(data);
    if (byteAt(data, 0) == Ping)
        return context.teltonikaPing ? whole(1) : none();
    if (byteAt(data, 0) != 0)
        return none();
    if (data.size() < 2)
        return partial();
    if (byteAt(data, 1) == ImeiLength) {
        for (qsizetype i = 2; i < std::min(data.size(), ImeiFrameLength); ++i) {
            if (!isDigit(data[i]))
                return none();
        }
        return data.size() < ImeiFrameLength ? partial() : whole(ImeiFrameLength);
    }
    for (qsizetype i = 1; i < std::min(data.size(), qsizetype(4)); ++i) {
        if (byteAt(data, i) != 0)
            return none();
    }
    return data.size() < PacketHeader ? partial() : fitPacket(data);
}

// What a whole frame is, as its first bytes say.
enum class Packet { Ping, Imei, Data };
Packet packetOf(QByteArrayView frame)
{
    if (frame.size() == 1)
        return Packet::Ping;
    return byteAt(frame, 1) == ImeiLength ? Packet::Imei : Packet::Data;
}

// Codec 7, 8, 8 extended and 16 carry AVL records; codec 12 to 15 commands and responses.
constexpr bool carriesRecords(quint8 codec)
{
    return codec == 0x07 || codec == 0x08 || codec == 0x8E || codec == 0x10;
}

QString codecName(quint8 codec)
{
    switch (codec) {
    case 0x8E:
        return QStringLiteral("codec 8 extended");
    case 0x07:
    case 0x08:
    case 0x0C:
    case 0x0D:
    case 0x0E:
    case 0x0F:
    case 0x10:
        return QStringLiteral("codec %1").arg(codec);
    default:
        return QStringLiteral("codec 0x%1").arg(codec, 2, 16, QLatin1Char('0'));
    }
}

// The codec data: codec id, N1, what they carry, N2.
void describeCodecData(QByteArrayView packetData, TrackerFrame &out)
{
    const quint8 codec = byteAt(packetData, 0);
    const quint8 firstCount = byteAt(packetData, 1);
    out.countsAgree = firstCount == byteAt(packetData, packetData.size() - 1);
    if (codec != 0x08)
        out.message = codecName(codec);
    if (carriesRecords(codec)) {
        out.kind = QStringLiteral("AVL");
        out.records = firstCount;
        return;
    }
    // Codec 12 to 15: the type byte after the count tells a command from a response.
    const quint8 type = packetData.size() > 3 ? byteAt(packetData, 2) : 0;
    out.kind = type == 0x05   ? QStringLiteral("command")
               : type == 0x06 ? QStringLiteral("response")
                              : QStringLiteral("message");
}

void describeTeltonika(QByteArrayView frame, TrackerFrame &out)
{
    const Packet packet = packetOf(frame);
    if (packet == Packet::Ping) {
        out.kind = QStringLiteral("ping");
        return;
    }
    if (packet == Packet::Imei) {
        out.kind = QStringLiteral("IMEI");
        out.deviceId = QString::fromLatin1(frame.sliced(2));
        return;
    }
    const QByteArrayView packetData = frame.sliced(PacketHeader, frame.size() - PacketHeader - PacketTrailer);
    out.checksumOk = bigEndian(frame, frame.size() - PacketTrailer, 4) == crc16Ibm(packetData);
    describeCodecData(packetData, out);
}

// Every answer to an AVL packet (its count is one byte), so that answering one allocates nothing.
constexpr std::array<char, 256 * 4> RecordCountAnswers = [] {
    std::array<char, 256 * 4> answers{};
    for (int count = 0; count < 256; ++count)
        answers[std::size_t(4 * count + 3)] = char(count);
    return answers;
}();

// The server accepts the IMEI with 01 and an AVL packet with its record count as 4 bytes, big
// endian; the device resends a packet whose count comes back different.
QByteArray acknowledgeTeltonika(const TrackerFrame &frame)
{
    // Decided by the packet's bytes as its description was: a chunk may hold thousands of frames.
    const Packet packet = packetOf(frame.bytes);
    if (packet == Packet::Imei)
        return QByteArray::fromRawData("\x01", 1);
    if (packet == Packet::Ping || frame.bytes.size() <= PacketHeader || !carriesRecords(byteAt(frame.bytes, PacketHeader)))
        return {};
    return QByteArray::fromRawData(RecordCountAnswers.data() + 4 * quint8(frame.records), 4);
}

// Over UDP: the length, packet id, unused byte and AVL packet id, then the IMEI's length.
constexpr qsizetype UdpImeiAt = 8;
// An IMEI has 15 digits; a longer identifier is not taken for one.
constexpr quint32 UdpLongestImei = 32;

// A datagram's packet fills the datagram: its length field counts every byte after itself.
FrameFit fitTeltonikaUdp(QByteArrayView data, const FramingContext &)
{
    if (data.size() < UdpImeiAt)
        return partial();
    const quint32 length = bigEndian(data, 0, 2);
    const quint32 imeiLength = bigEndian(data, 6, 2);
    if (qsizetype(length) + 2 != data.size() || imeiLength > UdpLongestImei ||
        UdpImeiAt + imeiLength + MinimumData > quint32(data.size()))
        return none();
    for (qsizetype i = UdpImeiAt; i < UdpImeiAt + imeiLength; ++i) {
        if (!isDigit(data[i]))
            return none();
    }
    const quint8 codec = byteAt(data, UdpImeiAt + imeiLength);
    return codec == 0 || codec == 0xFF ? none() : whole(data.size());
}

void describeTeltonikaUdp(QByteArrayView frame, TrackerFrame &out)
{
    const qsizetype imeiLength = bigEndian(frame, 6, 2);
    out.deviceId = QString::fromLatin1(frame.sliced(UdpImeiAt, imeiLength));
    describeCodecData(frame.sliced(UdpImeiAt + imeiLength), out);
}

QByteArray acknowledgeTeltonikaUdp(const TrackerFrame &frame)
{
    const QByteArrayView data = teltonikaCodecData(frame);
    if (data.isEmpty() || !carriesRecords(byteAt(data, 0)))
        return {};
    const QByteArrayView header = frame.bytes;
    const char answer[] = {0x00, 0x05, header[2], header[3], 0x01, header[5], char(frame.records)};
    return QByteArray(answer, sizeof answer);
}

// Every byte: a datagram's length can begin with any.
constexpr std::array<char, 256> AllBytes = [] {
    std::array<char, 256> bytes{};
    for (int i = 0; i < 256; ++i)
        bytes[std::size_t(i)] = char(i);
    return bytes;
}();

} // namespace

QByteArrayView teltonikaCodecData(const TrackerFrame &frame)
{
    const QByteArrayView bytes = frame.bytes;
    if (frame.protocol != TrackerProtocol::Teltonika || bytes.size() < UdpImeiAt)
        return {};
    if (frame.datagram)
        return bytes.sliced(UdpImeiAt + bigEndian(bytes, 6, 2));
    if (packetOf(bytes) != Packet::Data)
        return {};
    return bytes.sliced(PacketHeader, bytes.size() - PacketHeader - PacketTrailer);
}

using namespace std::string_view_literals;
const ProtocolFraming TeltonikaFraming{fitTeltonika, describeTeltonika, acknowledgeTeltonika, "\x00\xFF"sv};
const ProtocolFraming TeltonikaUdpFraming{fitTeltonikaUdp, describeTeltonikaUdp, acknowledgeTeltonikaUdp,
                                          {AllBytes.data(), AllBytes.size()}};

} // namespace Framing
