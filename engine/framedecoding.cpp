// Decoding what trackers say: every intact frame's records and fields as pane lines, as rows for
// the operator's positions, and in positions.csv of the capture folder.

#include "captureengine.h"

#include "livedecoder.h"

void CaptureEngine::startDecoding(qint16 index)
{
    m_decoder.reset();
    if (m_features.decode)
        m_decoder = std::make_unique<LiveDecoder>(trackerPeer(index));
}

void CaptureEngine::decodeFrames(const Capture &capture, std::span<const TrackerFrame> frames)
{
    if (!m_decoder || frames.empty())
        return;
    m_decoder->decode(frames, capture.number, capture.timeUs);
    if (!m_decoder->lines().isEmpty())
        m_controls.prependDecodedLines(m_decoder->lines());
    const std::span<const PositionRow> rows = m_decoder->rows();
    if (rows.empty())
        return;
    m_controls.positionsDecoded(rows);
    if (m_positions)
        m_positions->record(rows);
}
