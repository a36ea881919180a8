#include "tcppacket.h"

#include <QtEndian>

namespace TcpPacket {

namespace {

constexpr int Ipv4HeaderSize = 20;
constexpr int Ipv6HeaderSize = 40;
constexpr int TcpHeaderSize = 20;
constexpr quint8 TcpProtocol = 6;
constexpr quint8 UdpProtocol = 17;
constexpr int UdpHeaderSize = 8;

// The ones' complement sum of 16-bit big-endian words, folded at the end; an odd byte is padded.
quint32 addWords(quint32 sum, QByteArrayView bytes)
{
    const auto *b = reinterpret_cast<const uchar *>(bytes.data());
    qsizetype i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += quint32(b[i]) << 8 | b[i + 1];
    if (i < bytes.size())
        sum += quint32(b[i]) << 8;
    return sum;
}

quint16 folded(quint32 sum)
{
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return quint16(~sum);
}

QByteArray addressBytes(const QHostAddress &address)
{
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        QByteArray bytes(4, Qt::Uninitialized);
        qToBigEndian(address.toIPv4Address(), bytes.data());
        return bytes;
    }
    const Q_IPV6ADDR v6 = address.toIPv6Address();
    return QByteArray(reinterpret_cast<const char *>(v6.c), 16);
}

template<typename T>
void put(QByteArray &packet, qsizetype at, T value)
{
    qToBigEndian(value, packet.data() + at);
}

// An IP packet between the addresses with room for the transport's `size` bytes after its
// header, whose size it gives in ipSize.
QByteArray ipPacket(const QByteArray &source, const QByteArray &destination, quint8 protocol, qsizetype size,
                    int &ipSize)
{
    const bool v4 = source.size() == 4;
    ipSize = v4 ? Ipv4HeaderSize : Ipv6HeaderSize;
    QByteArray packet(ipSize + size, '\0');
    if (v4) {
        packet[0] = char(0x45); // version 4, five words of header
        put<quint16>(packet, 2, quint16(ipSize + size));
        put<quint16>(packet, 6, 0x4000); // don't fragment
        packet[8] = char(64);            // time to live
        packet[9] = char(protocol);
        packet.replace(12, 4, source);
        packet.replace(16, 4, destination);
        put<quint16>(packet, 10, folded(addWords(0, QByteArrayView(packet).first(Ipv4HeaderSize))));
    } else {
        packet[0] = char(0x60);
        put<quint16>(packet, 4, quint16(size));
        packet[6] = char(protocol);
        packet[7] = char(64); // hop limit
        packet.replace(8, 16, source);
        packet.replace(24, 16, destination);
    }
    return packet;
}

// The transport checksum over the pseudo-header and the transport's bytes from `at` on.
quint16 transportChecksum(const QByteArray &packet, qsizetype at, const QByteArray &source,
                          const QByteArray &destination, quint8 protocol)
{
    const qsizetype size = packet.size() - at;
    quint32 sum = addWords(addWords(0, source), destination);
    sum += protocol + quint32(size & 0xFFFF) + quint32(size >> 16);
    return folded(addWords(sum, QByteArrayView(packet).sliced(at)));
}

} // namespace

QByteArray build(const TcpEndpoint &from, const TcpEndpoint &to, quint32 sequence, quint32 acknowledgement,
                 quint8 flags, QByteArrayView payload)
{
    const QByteArray source = addressBytes(from.address);
    const QByteArray destination = addressBytes(to.address);
    int ipSize = 0;
    QByteArray packet = ipPacket(source, destination, TcpProtocol, TcpHeaderSize + payload.size(), ipSize);
    const qsizetype t = ipSize;
    put<quint16>(packet, t, from.port);
    put<quint16>(packet, t + 2, to.port);
    put<quint32>(packet, t + 4, sequence);
    put<quint32>(packet, t + 8, (flags & Ack) ? acknowledgement : 0);
    packet[t + 12] = char((TcpHeaderSize / 4) << 4);
    packet[t + 13] = char(flags);
    put<quint16>(packet, t + 14, 0xFFFF); // window
    std::copy(payload.begin(), payload.end(), packet.begin() + t + TcpHeaderSize);

    put<quint16>(packet, t + 16, transportChecksum(packet, t, source, destination, TcpProtocol));
    return packet;
}

QByteArray buildUdp(const TcpEndpoint &from, const TcpEndpoint &to, QByteArrayView payload)
{
    const QByteArray source = addressBytes(from.address);
    const QByteArray destination = addressBytes(to.address);
    int ipSize = 0;
    QByteArray packet = ipPacket(source, destination, UdpProtocol, UdpHeaderSize + payload.size(), ipSize);
    const qsizetype u = ipSize;
    put<quint16>(packet, u, from.port);
    put<quint16>(packet, u + 2, to.port);
    put<quint16>(packet, u + 4, quint16(UdpHeaderSize + payload.size()));
    std::copy(payload.begin(), payload.end(), packet.begin() + u + UdpHeaderSize);
    const quint16 checksum = transportChecksum(packet, u, source, destination, UdpProtocol);
    put<quint16>(packet, u + 6, checksum == 0 ? quint16(0xFFFF) : checksum); // 0 means none
    return packet;
}

std::optional<TcpEndpoint> parseEndpoint(const QString &text)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return std::nullopt;
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    QHostAddress address;
    if (!ok || port > 65535 || !address.setAddress(host))
        return std::nullopt;
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    if (isV4)
        address = QHostAddress(v4);
    return TcpEndpoint{address, quint16(port)};
}

} // namespace TcpPacket
