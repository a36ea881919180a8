#ifndef GPSA_FRAMING_H
#define GPSA_FRAMING_H

// Inside the protocol library: how each protocol finds, describes and answers its frames.

#include "trackerframe.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <span>
#include <string_view>

namespace Framing {

// No frame is longer, and no splitter holds more bytes for a partial frame.
inline constexpr qsizetype MaximumFrame = 64 * 1024;

enum class Fit { None, Partial, Whole };

// How the bytes at the start of a view fit a protocol's frame: not at all, as the beginning
// of a frame that needs more bytes, or as a whole frame of the given length.
struct FrameFit
{
    Fit fit = Fit::None;
    qsizetype length = 0;
};

[[nodiscard]] inline FrameFit none()
{
    return {};
}
[[nodiscard]] inline FrameFit partial()
{
    return {Fit::Partial, 0};
}
[[nodiscard]] inline FrameFit whole(qsizetype length)
{
    return {Fit::Whole, length};
}

// What one connection has learnt that decides how its later bytes frame.
struct FramingContext
{
    // Teltonika is the connection's protocol: a lone 0xFF is then its ping.
    bool teltonikaPing = false;
    // 32 or 45 once the connection's first binary H02 frame showed its length; 0 before.
    qsizetype h02BinaryLength = 0;
};

struct ProtocolFraming
{
    // The bytes at the start of the view fit a frame how? Never reads past the view.
    FrameFit (*fit)(QByteArrayView data, const FramingContext &context);
    // Fills kind, message, deviceId, checksumOk, countsAgree and records of a whole frame.
    void (*describe)(QByteArrayView frame, TrackerFrame &out);
    // The server's answer to an intact frame, or nothing.
    QByteArray (*acknowledge)(const TrackerFrame &frame);
    // Every byte that a frame of the protocol can begin with.
    std::string_view startBytes;
};

extern const ProtocolFraming TeltonikaFraming;
// Teltonika over UDP: each datagram one packet with a header of its own and no CRC.
extern const ProtocolFraming TeltonikaUdpFraming;
extern const ProtocolFraming Gt06Framing;
extern const ProtocolFraming H02Framing;
extern const ProtocolFraming MeitrackFraming;
extern const ProtocolFraming Tk103Framing;
extern const ProtocolFraming QueclinkFraming;
extern const ProtocolFraming NmeaFraming;

// A protocol's framing over a stream, or over datagrams that each hold whole frames: only
// Teltonika frames datagrams differently; the others send their stream's frames in them.
[[nodiscard]] inline const ProtocolFraming &framingOf(TrackerProtocol protocol, bool datagram = false)
{
    switch (protocol) {
    case TrackerProtocol::Teltonika:
        return datagram ? TeltonikaUdpFraming : TeltonikaFraming;
    case TrackerProtocol::GT06:
        return Gt06Framing;
    case TrackerProtocol::H02:
        return H02Framing;
    case TrackerProtocol::Meitrack:
        return MeitrackFraming;
    case TrackerProtocol::TK103:
        return Tk103Framing;
    case TrackerProtocol::Queclink:
        return QueclinkFraming;
    case TrackerProtocol::NMEA:
        break;
    }
    return NmeaFraming;
}

// Helpers shared by the protocols.

// A whole Teltonika frame's codec data, from the codec id through the second record count:
// between the packet header and the CRC over TCP, after the IMEI over UDP; empty for the
// IMEI handshake and the ping.
[[nodiscard]] QByteArrayView teltonikaCodecData(const TrackerFrame &frame);

[[nodiscard]] constexpr bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}
[[nodiscard]] constexpr bool isPrintable(char c)
{
    return c >= 0x20 && c <= 0x7E;
}
[[nodiscard]] constexpr bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}

[[nodiscard]] constexpr quint8 byteAt(QByteArrayView data, qsizetype index)
{
    return quint8(data[index]);
}
[[nodiscard]] constexpr quint32 bigEndian(QByteArrayView data, qsizetype at, int count)
{
    quint32 value = 0;
    for (int i = 0; i < count; ++i)
        value = (value << 8) | byteAt(data, at + i);
    return value;
}

// The value of two hexadecimal digits at `at`, or -1.
[[nodiscard]] int hexByteAt(QByteArrayView data, qsizetype at);

// Whether the view begins with the literal (1), is a proper beginning of it (0), or neither (-1).
[[nodiscard]] int compareStart(QByteArrayView data, std::string_view literal);

// Printable text from `from` on up to the terminator: a whole frame through the terminator
// and a CR, LF or CR LF already after it; partial while no terminator has come within
// `maximum` bytes of the view's start; none at any other byte, at any of the `restarts` (the
// beginnings of a next frame: this one was cut short) or beyond the maximum. Stopping at a
// restart keeps the work linear on a stream of frame beginnings.
[[nodiscard]] FrameFit textUpTo(QByteArrayView data, qsizetype from, char terminator, qsizetype maximum,
                                std::span<const std::string_view> restarts = {});

// The frame without the line end after it and without its last character (the terminator).
[[nodiscard]] QByteArrayView textBody(QByteArrayView frame);

// Device bytes as text for a summary: Latin-1 with every byte outside printable ASCII
// shown as '.', at most `maximum` characters.
[[nodiscard]] QString printableText(QByteArrayView bytes, qsizetype maximum = 40);

// The comma-separated field `index` of a text frame's body, or an empty view.
[[nodiscard]] QByteArrayView field(QByteArrayView body, int index);

} // namespace Framing

#endif
