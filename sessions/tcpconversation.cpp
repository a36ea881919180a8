#include "tcpconversation.h"

#include <algorithm>

namespace {
// A receiver acknowledges at least this often within a long run of bytes, so that no more than
// its advertised window of 64 KiB is ever in flight.
constexpr int SegmentsPerAcknowledgement = 32;
} // namespace

TcpConversation::TcpConversation(const TcpEndpoint &client, const TcpEndpoint &server, quint32 clientSequence,
                                 quint32 serverSequence, std::vector<TimedPacket> &out)
    : m_client{client, clientSequence}, m_server{server, serverSequence}, m_out(out)
{
}

void TcpConversation::emitPacket(bool fromClient, quint8 flags, QByteArrayView payload, qint64 timeUs)
{
    m_lastUs = std::max(m_lastUs, timeUs);
    Side &from = fromClient ? m_client : m_server;
    const Side &to = fromClient ? m_server : m_client;
    m_out.push_back({m_lastUs, TcpPacket::build(from.endpoint, to.endpoint, from.next, to.next, flags, payload)});
    from.next += quint32(payload.size()) + ((flags & (TcpPacket::Syn | TcpPacket::Fin)) ? 1 : 0);
}

void TcpConversation::open(qint64 timeUs)
{
    emitPacket(true, TcpPacket::Syn, {}, timeUs);
    emitPacket(false, TcpPacket::Syn | TcpPacket::Ack, {}, timeUs);
    emitPacket(true, TcpPacket::Ack, {}, timeUs);
    m_open = true;
}

void TcpConversation::send(bool fromClient, QByteArrayView bytes, qint64 timeUs)
{
    int unacknowledged = 0;
    for (qsizetype at = 0; at < bytes.size(); at += TcpPacket::MaximumSegment) {
        const QByteArrayView segment = bytes.sliced(at, std::min(TcpPacket::MaximumSegment, bytes.size() - at));
        const bool last = at + segment.size() == bytes.size();
        emitPacket(fromClient, TcpPacket::Ack | (last ? TcpPacket::Psh : 0), segment, timeUs);
        if (++unacknowledged == SegmentsPerAcknowledgement || last) {
            emitPacket(!fromClient, TcpPacket::Ack, {}, timeUs);
            unacknowledged = 0;
        }
    }
}

void TcpConversation::close(bool byClient, qint64 timeUs)
{
    emitPacket(byClient, TcpPacket::Fin | TcpPacket::Ack, {}, timeUs);
    emitPacket(!byClient, TcpPacket::Fin | TcpPacket::Ack, {}, timeUs);
    emitPacket(byClient, TcpPacket::Ack, {}, timeUs);
    m_open = false;
}

void TcpConversation::reset(bool byClient, qint64 timeUs)
{
    emitPacket(byClient, TcpPacket::Rst | TcpPacket::Ack, {}, timeUs);
    m_open = false;
}
