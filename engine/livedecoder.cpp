#include "livedecoder.h"

#include "positiontext.h"

void LiveDecoder::decode(std::span<const TrackerFrame> frames, qint32 number, qint64 timeUs, QByteArray &lines,
                         std::vector<PositionRow> &rows)
{
    lines.resize(0);
    rows.clear();
    for (const TrackerFrame &frame : frames) {
        if (!frame.intact())
            continue;
        if (!frame.deviceId.isEmpty() && frame.deviceId != m_device) {
            m_device = frame.deviceId;
            m_deviceText = m_device.toUtf8();
        }
        decodeFrame(frame, m_decoded);
        if (frame.kind != m_kind) {
            m_kind = frame.kind;
            m_kindText = m_kind.toLatin1();
        }
        const QByteArray &protocol = m_protocolNames[std::size_t(frame.protocol)];
        for (const PositionRecord &record : m_decoded.records()) {
            lines.append(PositionTag);
            PositionText::appendPositionLine(lines, protocol, m_deviceText, record);
            lines.append("\r\n");
            rows.push_back({number, timeUs, m_peer, m_device, frame.protocol, frame.kind, record});
        }
        if (m_decoded.records().empty() && m_decoded.hasContent()) {
            lines.append(FrameTag);
            PositionText::appendFrameLine(lines, protocol, m_deviceText, m_kindText, m_decoded);
            lines.append("\r\n");
        }
    }
}

LiveDecoder::LiveDecoder(QString peer) : m_peer(std::move(peer))
{
    for (const TrackerProtocol protocol : AllTrackerProtocols)
        m_protocolNames[std::size_t(protocol)] = protocolName(protocol).toLatin1();
}
