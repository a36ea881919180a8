// The session index: every event of a run, one line each, when the operator has switched it on.
// A failure to write the index ends the run as a failed capture file does.

#include "captureengine.h"

#include "capturefiles.h"
#include "datagramsocket.h"
#include "framesplitter.h"
#include "platformerror.h"
#include "socketendpoint.h"

#include <algorithm>
#include <utility>

void CaptureEngine::prepareFeatures()
{
    m_features = m_controls.features();
    if ((m_features.acknowledge || m_features.decode) && !m_features.protocol)
        m_features.protocol = ProtocolChoice::detect();
    m_sckListen->setLocalAddress(m_features.listenAddress);
    m_features.maxTrackers = std::clamp(m_features.maxTrackers, 1, CaptureFeatures::MostTrackers);
    m_state.SlotInUse.assign(std::size_t(m_features.maxTrackers) + 1, false);
    m_sessions.resize(std::size_t(m_features.maxTrackers) + 1);
    if (servesMany()) // trackers that connect at once wait for their turn rather than retry
        m_sckListen->setListenBacklog(std::min(m_features.maxTrackers, 4096));
    if (m_features.sessionIndex && m_recorderFactory)
        m_recorder = m_recorderFactory(m_captureFolder);
    if (m_features.decode && m_positionRecorderFactory)
        m_positions = m_positionRecorderFactory(m_captureFolder);
    prepareMirrors();
}

void CaptureEngine::recordListening()
{
    if (m_udpIn)
        m_controls.appendToLog(QStringLiteral("Listening on UDP port %1\r\n").arg(m_udpIn->localPort()));
    SessionEvent event = sessionEvent(SessionEvent::Kind::Listen, sessionClockUs());
    event.port = m_sckListen->localPort();
    if (m_controls.value(Control::RelaySwitch) == CheckValue::Ticked)
        event.note = QStringLiteral("relay to %1:%2%3")
                         .arg(m_sckOUT->remoteHost())
                         .arg(m_sckOUT->remotePort())
                         .arg(servesMany() ? QStringLiteral(" per tracker") : QString());
    record(event);
}

QString CaptureEngine::transportNote(const TrackerSession &tracker, const QString &note)
{
    if (!tracker.link->carriesDatagrams())
        return note;
    return note.isEmpty() ? QStringLiteral("udp") : QStringLiteral("udp; ") + note;
}

void CaptureEngine::record(SessionEvent event)
{
    if (m_recorder)
        m_records.append(std::move(event));
}

void CaptureEngine::writeRecords()
{
    // Taken first: a line that fails is not tried again by the report of its failure.
    const QList<SessionEvent> records = std::exchange(m_records, {});
    for (const SessionEvent &event : records)
        m_recorder->record(event);
}

void CaptureEngine::writeRecordsBeforeTheEnd()
{
    try {
        writeRecords();
    } catch (const PlatformError &) {
        // The failure being reported stands; the index ends with the lines written so far.
    }
}

QString CaptureEngine::trackerPeer(qint16 index) const
{
    const SocketEndpoint &tracker = sckAccept(index);
    return tracker.remoteHostIP() + QLatin1Char(':') + QString::number(tracker.remotePort());
}

void CaptureEngine::requestDeclined(qint32 requestID)
{
    if (!m_recorder)
        return;
    SessionEvent event = sessionEvent(SessionEvent::Kind::Declined, sessionClockUs());
    event.peer = SocketEndpoint::peerOfRequest(requestID);
    event.port = m_sckListen->localPort();
    record(event);
}

void CaptureEngine::sentToTracker(TrackerSession &tracker, SessionEvent::Kind kind, const QByteArray &bytes,
                                  qint64 timeUs, const QString &note)
{
    tracker.row.bytesOut += bytes.size();
    if (!m_recorder)
        return;
    SessionEvent event = sessionEvent(kind, timeUs);
    event.peer = tracker.peer();
    event.port = m_sckListen->localPort();
    event.length = bytes.size();
    event.bytes = bytes;
    event.note = transportNote(tracker, note);
    record(event);
}

void CaptureEngine::trackerLeft(qint16 index, qint32 errorNumber, qint16 number, const QString &description)
{
    if (std::unique_ptr<TrackerSession> ended = std::exchange(m_sessions[std::size_t(index)], nullptr))
        endSession(std::move(ended));
    if (!m_recorder)
        return;
    SessionEvent event = sessionEvent(errorNumber != 0 ? SessionEvent::Kind::Error : SessionEvent::Kind::Disconnect,
                                      sessionClockUs());
    event.peer = trackerPeer(index);
    event.port = m_sckListen->localPort();
    if (errorNumber != 0) {
        event.number = errorNumber;
        event.file = CaptureFiles::errorLog(errorNumber, event.port);
        event.note = QString::number(number) + QLatin1Char(' ') + description;
    }
    record(event);
}
