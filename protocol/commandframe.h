#ifndef GPSA_COMMANDFRAME_H
#define GPSA_COMMANDFRAME_H

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// The frames in which a device accepts an operator's command.
enum class CommandFrameKind { Codec12, GT06, NMEA };

// "codec12", "gt06" or "nmea" in any case; nothing for any other text.
[[nodiscard]] std::optional<CommandFrameKind> commandFrameKindFromName(QStringView name);

// The names in lower case, for a usage message.
[[nodiscard]] QStringList commandFrameKindNames();

// A built frame, or the reason why the payload cannot become one.
struct CommandFrame
{
    QByteArray bytes;
    QString error;

    [[nodiscard]] bool ok() const { return error.isEmpty(); }
};

// The longest payload that the kind's frame can carry: what its length fields can count
// (Codec 12, GT06), or what fits an NMEA sentence of 82 characters.
[[nodiscard]] qsizetype maximumPayload(CommandFrameKind kind);

// The payload in the kind's frame:
//   Codec12: 4 zero bytes, the data length (4 bytes), 0C 01 05, the payload length (4 bytes),
//            the payload, 01, the CRC-16/IBM of the data (from 0C to 01) in 4 bytes.
//   GT06:    78 78, length, 80, command length, server flag 00 00 00 00, the payload,
//            serial 00 00, CRC-ITU from the length to the serial, 0D 0A.
//   NMEA:    '$', the payload (a '$' that it begins with is not doubled), '*', the XOR of the
//            characters between '$' and '*' as two upper-case hexadecimal digits, CR LF.
// An empty payload, one longer than maximumPayload(), and an NMEA payload with characters
// outside printable ASCII or with '$' or '*' give an error and no bytes.
[[nodiscard]] CommandFrame buildCommandFrame(CommandFrameKind kind, const QByteArray &payload);

#endif
