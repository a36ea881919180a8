// GT06 and other Concox trackers (Concox "GT06 GPS Tracker Communication Protocol"): a
// packet is 78 78 and a 1-byte length, or 79 79 and a 2-byte length; then the protocol
// number, the content, a 2-byte serial number and the CRC-ITU (CRC-16/X-25) of everything
// from the length to the serial; then 0D 0A. The length counts the bytes from the protocol
// number to the CRC.

#include "checksums.h"
#include "framing.h"

namespace Framing {

namespace {

constexpr quint8 ShortStart = 0x78;
constexpr quint8 LongStart = 0x79;
// Protocol number, serial and CRC.
constexpr quint32 MinimumLength = 5;
// Serial, CRC and stop bytes after the content.
constexpr qsizetype Trailer = 6;

qsizetype headerLength(QByteArrayView frame)
{
    return byteAt(frame, 0) == ShortStart ? 3 : 4;
}

FrameFit fitGt06(QByteArrayView data, const FramingContext &)
{
    const quint8 start = byteAt(data, 0);
    if (start != ShortStart && start != LongStart)
        return none();
    if (data.size() < 2)
        return partial();
    if (byteAt(data, 1) != start)
        return none();
    const qsizetype header = headerLength(data);
    if (data.size() < header)
        return partial();
    const quint32 length = bigEndian(data, 2, int(header) - 2);
    // Start, length field and stop bytes around the counted bytes.
    const qsizetype frameLength = header + qsizetype(length) + 2;
    if (length < MinimumLength || frameLength > MaximumFrame)
        return none();
    if (data.size() < frameLength)
        return partial();
    if (data[frameLength - 2] != '\r' || data[frameLength - 1] != '\n')
        return none();
    return whole(frameLength);
}

QString kindOf(quint8 protocolNumber)
{
    switch (protocolNumber) {
    case 0x01:
        return QStringLiteral("login");
    case 0x10:
    case 0x11:
    case 0x12:
    case 0x22:
    case 0x32:
    case 0xA0:
        return QStringLiteral("location");
    case 0x13:
    case 0x23:
        return QStringLiteral("heartbeat");
    case 0x16:
    case 0x19:
    case 0x26:
    case 0x27:
    case 0xA4:
        return QStringLiteral("alarm");
    case 0x15:
    case 0x21:
        return QStringLiteral("response");
    case 0x80:
        return QStringLiteral("command");
    case 0x8A:
        return QStringLiteral("time request");
    case 0x94:
        return QStringLiteral("information");
    default:
        return {};
    }
}

void describeGt06(QByteArrayView frame, TrackerFrame &out)
{
    const qsizetype header = headerLength(frame);
    const quint8 protocolNumber = byteAt(frame, header);
    out.checksumOk = bigEndian(frame, frame.size() - 4, 2) == crc16X25(frame.sliced(2, frame.size() - 6));
    out.kind = kindOf(protocolNumber);
    if (out.kind.isEmpty()) {
        out.kind = QStringLiteral("message");
        out.message = QStringLiteral("0x%1").arg(protocolNumber, 2, 16, QLatin1Char('0'));
    }
    // The login carries the IMEI as 8 BCD bytes, 16 digits with a leading zero.
    const QByteArrayView content = frame.sliced(header + 1, frame.size() - header - 1 - Trailer);
    if (protocolNumber == 0x01 && content.size() >= 8) {
        const QByteArray digits = content.first(8).toByteArray().toHex();
        out.deviceId = QString::fromLatin1(digits.startsWith('0') ? digits.sliced(1) : digits);
    }
}

// The server answers a login, heartbeat, location or alarm packet with a packet of its own
// protocol number and serial and no content, in the short form for 78 78 packets and in
// the long form (2-byte length) for 79 79 packets.
QByteArray acknowledgeGt06(const TrackerFrame &frame)
{
    static const QStringList answered{QStringLiteral("login"), QStringLiteral("heartbeat"),
                                      QStringLiteral("location"), QStringLiteral("alarm")};
    if (!answered.contains(frame.kind) || frame.bytes.size() < 11)
        return {};
    const QByteArrayView bytes = frame.bytes;
    const qsizetype header = headerLength(bytes);
    QByteArray answer = bytes.first(2).toByteArray();
    if (header == 4)
        answer.append('\0');
    answer.append(char(MinimumLength));
    answer.append(bytes[header]);
    answer.append(bytes.sliced(bytes.size() - Trailer, 2));
    const quint16 crc = crc16X25(QByteArrayView(answer).sliced(2));
    answer.append(char(crc >> 8));
    answer.append(char(crc));
    answer.append("\r\n");
    return answer;
}

} // namespace

const ProtocolFraming Gt06Framing{fitGt06, describeGt06, acknowledgeGt06, "\x78\x79"};

} // namespace Framing
