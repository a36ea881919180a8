// Keeping real trackers talking: the tracker's protocol recognised and its frames acknowledged
// as a tracking server would, or the OUT server's own answers passed on to the tracker.

#include "captureengine.h"

#include "acknowledgement.h"
#include "framesplitter.h"
#include "platformerror.h"
#include "socketendpoint.h"

namespace {

SessionEvent capturedEvent(SessionEvent::Kind kind, const CaptureEngine::Capture &capture, const QString &peer, int port)
{
    SessionEvent event = sessionEvent(kind, capture.timeUs);
    event.number = capture.number;
    event.peer = peer;
    event.port = port;
    event.length = capture.chunk.size();
    event.file = capture.file;
    return event;
}

// Tags of an acknowledgement's two pane lines, in the place of a tracker chunk's.
constexpr QLatin1StringView AckAsciiTag{": ACK (ASCII):"};
constexpr QLatin1StringView AckHexTag{": ACK (HEXAD):"};

} // namespace

void CaptureEngine::trackerAccepted(qint16 index)
{
    m_frames.reset();
    m_protocolAnnounced = false;
    if (m_features.protocol)
        m_frames = std::make_unique<FrameSplitter>(*m_features.protocol);
    startDecoding(index);
    if (!m_recorder)
        return;
    const SocketEndpoint &tracker = sckAccept(index);
    SessionEvent event = sessionEvent(SessionEvent::Kind::Connect, sessionClockUs());
    event.peer = trackerPeer(index);
    event.port = m_sckListen->localPort();
    event.note = QStringLiteral("local %1:%2").arg(tracker.localAddress()).arg(tracker.localPort());
    record(event);
}

void CaptureEngine::trackerChunkCaptured(qint16 index, const Capture &capture)
{
    if (m_frames)
        m_frames->feed(capture.chunk, m_split);
    if (m_recorder) {
        SessionEvent event = capturedEvent(SessionEvent::Kind::In, capture, trackerPeer(index), m_sckListen->localPort());
        event.note = m_split.note();
        record(event);
    }
    if (m_frames && !m_split.frames.empty()) {
        announceProtocol(index, m_split.frames.front());
        acknowledgeFrames(index, m_split.frames);
        decodeFrames(capture, m_split.frames);
    }
    // The list keeps its room for the next chunk; the frames let go of this one's bytes.
    m_split.clear();
}

void CaptureEngine::announceProtocol(qint16 index, const TrackerFrame &first)
{
    if (m_protocolAnnounced)
        return;
    m_protocolAnnounced = true;
    const QString device = first.deviceId.isEmpty() ? m_frames->deviceId() : first.deviceId;
    m_controls.appendToLog(QStringLiteral("Tracker ") + sckAccept(index).remoteHostIP() + QStringLiteral(" speaks ") +
                           protocolName(first.protocol) +
                           (device.isEmpty() ? QString() : QStringLiteral(", device ") + device) +
                           QStringLiteral(".\r\n"));
}

void CaptureEngine::acknowledgeFrames(qint16 index, std::span<const TrackerFrame> frames)
{
    // A server behind the relay that passes its answers on answers for itself.
    const bool serverAnswers = m_features.passAnswers && m_sckOUT->state() == SocketEndpoint::State::Connected;
    if (!m_features.acknowledge || serverAnswers)
        return;
    // The answers to a chunk's frames go out together, as one write, and show as one pair of
    // lines, as the chunk did.
    const Acknowledgements answers = acknowledgements(frames);
    if (answers.bytes.isEmpty() || !trackerConnected(index))
        return;
    const QString summary = answers.answered == 1 ? frames[std::size_t(answers.first)].summary()
                                                  : QStringLiteral("%1 frames").arg(answers.answered);
    try {
        sckAccept(index).SendData(answers.bytes);
    } catch (const PlatformError &) {
        return; // the tracker has just gone
    }
    const qint64 sentAt = sessionClockUs();
    m_controls.prependChunkLines(AckAsciiTag, AckHexTag, answers.bytes);
    sentToTracker(index, SessionEvent::Kind::Ack, answers.bytes, sentAt, summary);
}

void CaptureEngine::answerCaptured(const Capture &capture)
{
    if (m_recorder) {
        record(capturedEvent(SessionEvent::Kind::Out, capture,
                             m_sckOUT->remoteHostIP() + QLatin1Char(':') + QString::number(m_sckOUT->remotePort()),
                             m_sckOUT->remotePort()));
    }
    if (!m_features.passAnswers || !trackerConnected(1))
        return;
    try {
        sckAccept(1).SendData(capture.chunk);
    } catch (const PlatformError &) {
        return; // the tracker has just gone: the answer stays captured only
    }
    if (!m_recorder)
        return;
    SessionEvent event = capturedEvent(SessionEvent::Kind::Pass, capture, trackerPeer(1), m_sckListen->localPort());
    event.timeUs = sessionClockUs();
    record(event);
}
