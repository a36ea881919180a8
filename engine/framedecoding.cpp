// Decoding what trackers say: every intact frame's records and fields as pane lines, as rows for
// the operator's positions, and in positions.csv of the capture folder.

#include "captureengine.h"

#include "livedecoder.h"

void CaptureEngine::startDecoding(TrackerSession &tracker)
{
    if (m_features.decode)
        tracker.decoder = std::make_unique<LiveDecoder>(tracker.peer(), tracker.named);
}

void CaptureEngine::decodeFrames(TrackerSession &tracker, const Capture &capture,
                                 std::span<const TrackerFrame> frames)
{
    LiveDecoder *decoder = tracker.decoder.get();
    if (!decoder || frames.empty())
        return;
    decoder->decode(frames, capture.number, capture.timeUs);
    if (!decoder->lines().isEmpty())
        m_controls.prependDecodedLines(decoder->lines());
    const std::span<const PositionRow> rows = decoder->rows();
    if (rows.empty())
        return;
    m_controls.positionsDecoded(rows);
    if (m_positions)
        m_positions->record(rows);
}
