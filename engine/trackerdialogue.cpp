// Keeping real trackers talking: the tracker's protocol recognised and its frames acknowledged
// as a tracking server would, or the OUT server's own answers passed on to the tracker.

#include "captureengine.h"

#include "acknowledgement.h"
#include "capturefiles.h"
#include "framesplitter.h"
#include "platformerror.h"
#include "socketendpoint.h"
#include "streamsocket.h"
#include "endpointlink.h"

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

} // namespace

void CaptureEngine::trackerAccepted(qint16 index)
{
    auto session =
        std::make_unique<TrackerSession>(index, std::make_unique<EndpointLink>(sckAccept(index)), servesMany());
    TrackerSession &tracker = *session;
    m_sessions[std::size_t(index)] = std::move(session);
    if (m_recorder) {
        SessionEvent event = sessionEvent(SessionEvent::Kind::Connect, sessionClockUs());
        event.peer = tracker.peer();
        event.port = m_sckListen->localPort();
        event.note = QStringLiteral("local %1:%2").arg(tracker.link->localAddress()).arg(tracker.link->localPort());
        record(event);
    }
    startSession(tracker);
}

void CaptureEngine::startSession(TrackerSession &tracker)
{
    if (m_features.protocol)
        tracker.frames = std::make_unique<FrameSplitter>(*m_features.protocol, tracker.link->carriesDatagrams()
                                                                                   ? FrameSplitter::Transport::Datagram
                                                                                   : FrameSplitter::Transport::Stream);
    startDecoding(tracker);
    m_trackerTable->add(&tracker.row);
    openTrackerRelay(tracker);
    openMirrors(tracker);
}

void CaptureEngine::endSession(std::unique_ptr<TrackerSession> tracker)
{
    m_trackerTable->remove(&tracker->row);
    closeMirrors(*tracker);
    // Its relay and mirror connections finish on their own as it goes.
}

void CaptureEngine::trackerChunkCaptured(TrackerSession &tracker, const Capture &capture)
{
    tracker.row.chunks += 1;
    tracker.row.bytesIn += capture.chunk.size();
    tracker.row.lastChunkUs = capture.timeUs;
    m_trackerTable->touch();
    mirrorChunk(tracker, capture.chunk);
    if (tracker.frames)
        tracker.frames->feed(capture.chunk, tracker.split);
    if (m_recorder) {
        SessionEvent event = capturedEvent(SessionEvent::Kind::In, capture, tracker.peer(), m_sckListen->localPort());
        event.note = transportNote(tracker, tracker.split.note());
        record(event);
    }
    if (tracker.frames && !tracker.split.frames.empty()) {
        announceProtocol(tracker, tracker.split.frames.front());
        acknowledgeFrames(tracker, tracker.split.frames);
        decodeFrames(tracker, capture, tracker.split.frames);
    }
    // The list keeps its room for the next chunk; the frames let go of this one's bytes.
    tracker.split.clear();
}

void CaptureEngine::announceProtocol(TrackerSession &tracker, const TrackerFrame &first)
{
    if (tracker.protocolAnnounced)
        return;
    tracker.protocolAnnounced = true;
    const QString device = first.deviceId.isEmpty() ? tracker.frames->deviceId() : first.deviceId;
    tracker.row.protocol = protocolName(first.protocol);
    tracker.row.device = device;
    m_controls.appendToLog(QStringLiteral("Tracker ") + tracker.name() + QStringLiteral(" speaks ") +
                           tracker.row.protocol +
                           (device.isEmpty() ? QString() : QStringLiteral(", device ") + device) +
                           QStringLiteral(".\r\n"));
}

void CaptureEngine::acknowledgeFrames(TrackerSession &tracker, std::span<const TrackerFrame> frames)
{
    // A server behind the relay that passes its answers on answers for itself.
    const bool serverAnswers = m_features.passAnswers && relayOpen(tracker);
    if (!m_features.acknowledge || serverAnswers)
        return;
    // The answers to a chunk's frames go out together, as one write, and show as one pair of
    // lines, as the chunk did.
    const Acknowledgements answers = acknowledgements(frames);
    if (answers.bytes.isEmpty() || !tracker.link->isOpen())
        return;
    const QString summary = answers.answered == 1 ? frames[std::size_t(answers.first)].summary()
                                                  : QStringLiteral("%1 frames").arg(answers.answered);
    try {
        tracker.link->send(answers.bytes);
    } catch (const PlatformError &) {
        return; // the tracker has just gone
    }
    const qint64 sentAt = sessionClockUs();
    m_controls.prependChunkLines(tracker.tag(CaptureFiles::AckAsciiTag), tracker.tag(CaptureFiles::AckHexTag),
                                 answers.bytes);
    sentToTracker(tracker, SessionEvent::Kind::Ack, answers.bytes, sentAt, summary);
}

void CaptureEngine::answerCaptured(TrackerSession *owner, const Capture &capture)
{
    if (m_recorder) {
        // On a connection of the tracker's own, the answer is that tracker's.
        SessionEvent event =
            owner ? capturedEvent(SessionEvent::Kind::Out, capture, owner->peer(), m_sckOUT->remotePort())
                  : capturedEvent(SessionEvent::Kind::Out, capture,
                                  m_sckOUT->remoteHostIP() + QLatin1Char(':') + QString::number(m_sckOUT->remotePort()),
                                  m_sckOUT->remotePort());
        if (owner)
            event.note = streamNote(*owner->relay);
        record(event);
    }
    TrackerSession *tracker = owner ? owner : sessionAt(1);
    if (!m_features.passAnswers || !tracker || !tracker->link->isOpen())
        return;
    try {
        tracker->link->send(capture.chunk);
    } catch (const PlatformError &) {
        return; // the tracker has just gone: the answer stays captured only
    }
    tracker->row.bytesOut += capture.chunk.size();
    if (!m_recorder)
        return;
    SessionEvent event = capturedEvent(SessionEvent::Kind::Pass, capture, tracker->peer(), m_sckListen->localPort());
    event.timeUs = sessionClockUs();
    record(event);
}
