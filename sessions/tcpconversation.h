#ifndef GPSA_TCPCONVERSATION_H
#define GPSA_TCPCONVERSATION_H

#include "tcppacket.h"

#include <QByteArray>

#include <limits>
#include <vector>

// A packet and the time it is shown at: UTC, microseconds since 1970.
struct TimedPacket
{
    qint64 timeUs = 0;
    QByteArray packet;
};

// One TCP connection written out as packets: a three-way handshake, segments of at most
// TcpPacket::MaximumSegment bytes with the sequence and acknowledgement numbers that follow from
// the bytes before them, each run of bytes acknowledged by its receiver, and a close by FIN
// exchange or by a reset. Times never go back within the connection: an earlier time is taken
// as the time of the packet before.
class TcpConversation final
{
public:
    TcpConversation(const TcpEndpoint &client, const TcpEndpoint &server, quint32 clientSequence,
                    quint32 serverSequence, std::vector<TimedPacket> &out);

    void open(qint64 timeUs);
    void send(bool fromClient, QByteArrayView bytes, qint64 timeUs);
    void close(bool byClient, qint64 timeUs);
    void reset(bool byClient, qint64 timeUs);

    [[nodiscard]] bool isOpen() const { return m_open; }

private:
    struct Side
    {
        TcpEndpoint endpoint;
        quint32 next = 0; // the sequence number of its next byte
    };

    void emitPacket(bool fromClient, quint8 flags, QByteArrayView payload, qint64 timeUs);

    Side m_client;
    Side m_server;
    std::vector<TimedPacket> &m_out;
    qint64 m_lastUs = std::numeric_limits<qint64>::min();
    bool m_open = false;
};

#endif
