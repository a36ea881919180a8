#include "livedecoder.h"

#include "capturefiles.h"
#include "positiontext.h"

namespace {

// The same text kept without a call where it is already the same.
void assign(QString &to, const QString &from)
{
    if (to.constData() != from.constData() || to.size() != from.size())
        to = from;
}

} // namespace

void LiveDecoder::decode(std::span<const TrackerFrame> frames, qint32 number, qint64 timeUs)
{
    m_lines.resize(0);
    m_rowCount = 0;
    PositionText::Writer text(m_lines);
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
        for (PositionRecord &record : m_decoded.records()) {
            const qsizetype room = PositionText::positionLineRoom(protocol, m_deviceText, record);
            text.reserve(m_positionTag.size() + room + 2);
            text.put(m_positionTag);
            PositionText::writePositionLine(text, protocol, m_deviceText, record);
            text.put("\r\n");
            // The rows of the last chunk are reused, and their records swapped with the decoded
            // ones: the fields' room goes round between the two instead of being made anew.
            if (m_rowCount == m_rows.size())
                m_rows.emplace_back();
            PositionRow &row = m_rows[m_rowCount++];
            row.number = number;
            row.timeUs = timeUs;
            assign(row.peer, m_peer);
            assign(row.device, m_device);
            row.protocol = frame.protocol;
            assign(row.message, frame.kind);
            std::swap(row.record, record);
        }
        if (m_decoded.records().empty() && m_decoded.hasContent()) {
            text.reserve(m_frameTag.size());
            text.put(m_frameTag);
            PositionText::writeFrameLine(text, protocol, m_deviceText, m_kindText, m_decoded);
            text.reserve(2);
            text.put("\r\n");
        }
    }
}

LiveDecoder::LiveDecoder(QString peer, bool named)
    : m_peer(std::move(peer))
    , m_positionTag(named ? CaptureFiles::trackerTag(QLatin1StringView(PositionTag), m_peer)
                          : PositionTag.toByteArray())
    , m_frameTag(named ? CaptureFiles::trackerTag(QLatin1StringView(FrameTag), m_peer) : FrameTag.toByteArray())
{
    for (const TrackerProtocol protocol : AllTrackerProtocols)
        m_protocolNames[std::size_t(protocol)] = protocolName(protocol).toLatin1();
}
