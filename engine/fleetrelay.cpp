// Several trackers at once: each tracker that connects gets a connection of its own to the OUT
// server, as a tracking server expects one connection per device. What the server sends on it
// is that tracker's; a refused or broken connection closes that tracker and ends nothing else;
// a server that lags behind holds back only its own tracker.

#include "captureengine.h"

#include "socketendpoint.h"
#include "streamsocket.h"

void CaptureEngine::connectRelay()
{
    if (!servesMany()) {
        m_sckOUT->Connect();
        return;
    }
    // Looked up once, here, where a name that is not known ends the start as it does for one
    // tracker: a lookup for every tracker would hold up every other one.
    m_relayAddress = SocketEndpoint::resolve(m_sckOUT->remoteHost());
}

void CaptureEngine::openTrackerRelay(TrackerSession &tracker)
{
    if (!servesMany() || m_controls.value(Control::RelaySwitch) != CheckValue::Ticked ||
        tracker.link->carriesDatagrams())
        return;
    StreamSocket *relay = StreamSocket::connectTo(m_relayAddress, quint16(m_sckOUT->remotePort()), this);
    tracker.relay = relay;
    TrackerSession *owner = &tracker; // the connection ends before its session does
    connect(relay, &StreamSocket::readyRead, this, [this, owner] {
        runHandler([&] { sckOUT_DataArrival(owner, qint32(owner->relay->bytesAvailable())); });
    });
    connect(relay, &StreamSocket::sent, this, [this, owner] { releaseTracker(owner); });
    connect(relay, &StreamSocket::failed, this, [this, owner](int, const QString &description) {
        runHandler([&] { trackerRelayEnded(*owner, description); });
    });
    connect(relay, &StreamSocket::peerClosed, this, [this, owner] {
        runHandler([&] { trackerRelayEnded(*owner, QStringLiteral("closed by the server")); });
    });
}

void CaptureEngine::trackerRelayEnded(TrackerSession &tracker, const QString &reason)
{
    const qint16 slot = tracker.slot;
    m_controls.appendToLog(QStringLiteral("OUT connection of tracker %1 to %2:%3 ended: %4.\r\n")
                               .arg(tracker.name(), m_sckOUT->remoteHost())
                               .arg(m_sckOUT->remotePort())
                               .arg(reason));
    // As if the tracker had closed: the slot is freed, its end logged and indexed.
    sckAccept_Close(slot);
}

bool CaptureEngine::relayOpen(const TrackerSession &tracker) const
{
    if (tracker.link->carriesDatagrams()) // nothing to be open: datagrams go or are lost
        return m_controls.value(Control::RelaySwitch) == CheckValue::Ticked;
    if (tracker.relay)
        return tracker.relay->isOpen();
    return m_sckOUT->state() == SocketEndpoint::State::Connected;
}

qint64 CaptureEngine::relayQueueLimit() const
{
    return std::max(RelayQueueLimit / m_features.maxTrackers, TrackerRelayQueueFloor);
}

QString CaptureEngine::streamNote(const StreamSocket &stream)
{
    return QStringLiteral("from %1:%2 local %3:%4")
        .arg(stream.peerAddress().toString())
        .arg(stream.peerPort())
        .arg(stream.localAddress().toString())
        .arg(stream.localPort());
}
