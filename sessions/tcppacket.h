#ifndef GPSA_TCPPACKET_H
#define GPSA_TCPPACKET_H

#include <QByteArray>
#include <QByteArrayView>
#include <QHostAddress>
#include <QString>

#include <optional>

// One end of a TCP connection, or of a UDP exchange.
struct TcpEndpoint
{
    QHostAddress address;
    quint16 port = 0;
};

// Raw IP packets (no link layer) that carry one TCP segment each, as a capture file of link type
// RAW holds them: IPv4 or IPv6 after the endpoints' family, with correct IP and TCP checksums.
namespace TcpPacket {

enum Flag : quint8 { Fin = 0x01, Syn = 0x02, Rst = 0x04, Psh = 0x08, Ack = 0x10 };

// The most payload in one segment: that of an Ethernet path.
inline constexpr qsizetype MaximumSegment = 1460;

// Both endpoints must be of one family.
[[nodiscard]] QByteArray build(const TcpEndpoint &from, const TcpEndpoint &to, quint32 sequence,
                               quint32 acknowledgement, quint8 flags, QByteArrayView payload);

// One UDP datagram in a raw IP packet, checksums correct; at most 65,507 bytes of payload.
[[nodiscard]] QByteArray buildUdp(const TcpEndpoint &from, const TcpEndpoint &to, QByteArrayView payload);

// "127.0.0.1:40312", "[::1]:40312"; an IPv4 address mapped into IPv6 comes back as IPv4.
[[nodiscard]] std::optional<TcpEndpoint> parseEndpoint(const QString &text);

} // namespace TcpPacket

#endif
