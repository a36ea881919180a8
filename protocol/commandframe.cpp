#include "commandframe.h"

#include "checksums.h"

#include <limits>

namespace {

// Codec 12 data around the payload: codec id, command count, type and payload length
// before it, the second command count after it.
constexpr qsizetype Codec12DataOverhead = 8;
// GT06: the length byte counts the protocol number, the command length byte, the server
// flag, the payload, the serial and the CRC; the command length counts the flag and payload.
constexpr qsizetype Gt06LengthOverhead = 10;
// NMEA: '$', '*', two checksum digits and CR LF around the payload in 82 characters.
constexpr qsizetype NmeaSentence = 82;
constexpr qsizetype NmeaOverhead = 6;

void appendBigEndian(QByteArray &bytes, quint32 value)
{
    bytes.append(char(value >> 24));
    bytes.append(char(value >> 16));
    bytes.append(char(value >> 8));
    bytes.append(char(value));
}

QByteArray codec12Frame(const QByteArray &payload)
{
    QByteArray data("\x0C\x01\x05", 3);
    appendBigEndian(data, quint32(payload.size()));
    data.append(payload);
    data.append('\x01');
    QByteArray frame(4, '\0');
    appendBigEndian(frame, quint32(data.size()));
    frame.append(data);
    appendBigEndian(frame, crc16Ibm(data));
    return frame;
}

QByteArray gt06Frame(const QByteArray &payload)
{
    QByteArray frame("\x78\x78", 2);
    frame.append(char(payload.size() + Gt06LengthOverhead));
    frame.append('\x80');
    frame.append(char(payload.size() + 4));
    frame.append(4, '\0');
    frame.append(payload);
    frame.append(2, '\0');
    const quint16 crc = crc16X25(QByteArrayView(frame).sliced(2));
    frame.append(char(crc >> 8));
    frame.append(char(crc));
    frame.append("\r\n");
    return frame;
}

QByteArray nmeaFrame(QByteArrayView sentence)
{
    const QByteArray checksum =
        QByteArray::number(nmeaChecksum(sentence), 16).toUpper().rightJustified(2, '0');
    return '$' + sentence.toByteArray() + '*' + checksum + "\r\n";
}

QString kindName(CommandFrameKind kind)
{
    switch (kind) {
    case CommandFrameKind::Codec12:
        return QStringLiteral("Codec 12");
    case CommandFrameKind::GT06:
        return QStringLiteral("GT06");
    case CommandFrameKind::NMEA:
        break;
    }
    return QStringLiteral("NMEA");
}

} // namespace

std::optional<CommandFrameKind> commandFrameKindFromName(QStringView name)
{
    static const CommandFrameKind kinds[] = {CommandFrameKind::Codec12, CommandFrameKind::GT06,
                                             CommandFrameKind::NMEA};
    const QStringList names = commandFrameKindNames();
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (name.compare(names.at(i), Qt::CaseInsensitive) == 0)
            return kinds[i];
    }
    return std::nullopt;
}

QStringList commandFrameKindNames()
{
    return {QStringLiteral("codec12"), QStringLiteral("gt06"), QStringLiteral("nmea")};
}

qsizetype maximumPayload(CommandFrameKind kind)
{
    switch (kind) {
    case CommandFrameKind::Codec12:
        return qsizetype(std::numeric_limits<quint32>::max()) - Codec12DataOverhead;
    case CommandFrameKind::GT06:
        return std::numeric_limits<quint8>::max() - Gt06LengthOverhead;
    case CommandFrameKind::NMEA:
        break;
    }
    return NmeaSentence - NmeaOverhead;
}

CommandFrame buildCommandFrame(CommandFrameKind kind, const QByteArray &payload)
{
    QByteArrayView text = payload;
    if (kind == CommandFrameKind::NMEA && text.startsWith('$'))
        text = text.sliced(1);
    if (text.isEmpty())
        return {{}, QStringLiteral("The command is empty.")};
    if (text.size() > maximumPayload(kind))
        return {{},
                QStringLiteral("The command is %1 bytes long; %2 frames hold at most %3.")
                    .arg(text.size())
                    .arg(kindName(kind))
                    .arg(maximumPayload(kind))};
    switch (kind) {
    case CommandFrameKind::Codec12:
        return {codec12Frame(payload), {}};
    case CommandFrameKind::GT06:
        return {gt06Frame(payload), {}};
    case CommandFrameKind::NMEA:
        break;
    }
    for (const char c : text) {
        const quint8 byte = quint8(c);
        if (byte == '$' || byte == '*' || byte < 0x20 || byte > 0x7E)
            return {{},
                    QStringLiteral("An NMEA sentence holds printable ASCII characters other than '$' and '*' "
                                   "only; the command has byte 0x%1.")
                        .arg(byte, 2, 16, QLatin1Char('0'))};
    }
    return {nmeaFrame(text), {}};
}
