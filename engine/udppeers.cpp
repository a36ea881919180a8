// Trackers over UDP: with the feature on, the IN port is bound for UDP too. Every datagram is a
// chunk, captured, recognised, acknowledged and relayed like a TCP chunk; its source address
// and port are a tracker (a UDP peer) from its first datagram until it has been quiet for the
// idle time. A relaying peer has a UDP socket of its own towards the OUT server, so that the
// server sees one source per device and its answers are that device's. UDP has no connection
// to lose: a server that is not there is reported once per peer and ends nothing.

#include "captureengine.h"

#include "capturefiles.h"
#include "datagramlink.h"
#include "datagramsocket.h"
#include "platformerror.h"
#include "socketendpoint.h"

#include <QTimer>

void CaptureEngine::listenForDatagrams()
{
    if (!m_features.udp)
        return;
    m_udpIn = new DatagramSocket(this);
    m_udpIn->bind(m_features.listenAddress, quint16(m_sckListen->localPort()));
    m_udpReceiveBuffer = m_udpIn->growReceiveBuffer(UdpReceiveBuffer);
    connect(m_udpIn, &DatagramSocket::received, this,
            [this](const QByteArray &bytes, const QHostAddress &from, quint16 port) {
                runHandler([&] { datagramArrival(bytes, from, port); });
            });
    if (m_controls.value(Control::RelaySwitch) == CheckValue::Ticked && m_relayAddress.isNull())
        m_relayAddress = SocketEndpoint::resolve(m_sckOUT->remoteHost());
}

int CaptureEngine::udpPort() const
{
    return m_udpIn ? m_udpIn->localPort() : 0;
}

void CaptureEngine::datagramArrival(const QByteArray &bytes, const QHostAddress &from, quint16 port)
{
    const QString key = from.toString() + QLatin1Char(':') + QString::number(port);
    const auto known = m_udpPeers.find(key);
    const bool isNew = known == m_udpPeers.end();
    UdpPeer &peer = isNew ? newUdpPeer(key, from, port) : *known->second;
    TrackerSession &tracker = *peer.session;
    peer.idle->start();
    if (isNew && m_controls.value(Control::SendOnConnect) == CheckValue::Ticked) {
        SendUserCommand(tracker);
        if (!servesMany())
            m_controls.setValue(Control::SendOnConnect, CheckValue::Clear);
    }

    const Capture capture = captureChunk([&] { return bytes; }, m_sckListen->localPort(),
                                         tracker.tag(CaptureFiles::InAsciiTag), tracker.tag(CaptureFiles::InHexTag));
    trackerChunkCaptured(tracker, capture);
    SendUserCommand(tracker);
    if (m_controls.value(Control::RelaySwitch) == CheckValue::Ticked)
        relayDatagram(peer, bytes);
}

CaptureEngine::UdpPeer &CaptureEngine::newUdpPeer(const QString &key, const QHostAddress &from, quint16 port)
{
    auto created = std::make_unique<UdpPeer>();
    UdpPeer &peer = *created;
    peer.session = std::make_unique<TrackerSession>(0, std::make_unique<DatagramLink>(*m_udpIn, from, port), true);
    peer.idle = new QTimer(this);
    peer.idle->setSingleShot(true);
    peer.idle->setInterval(std::chrono::seconds(m_features.udpIdleSeconds));
    connect(peer.idle, &QTimer::timeout, this, [this, key] { runHandler([&] { forgetUdpPeer(key); }); });
    m_udpPeers.emplace(key, std::move(created));

    m_controls.appendToLog(QStringLiteral("Tracker ") + key + QStringLiteral(" sends over UDP.\r\n"));
    if (m_recorder) {
        SessionEvent event = sessionEvent(SessionEvent::Kind::UdpPeer, peer.session->row.connectedUs);
        event.peer = key;
        event.port = m_sckListen->localPort();
        event.note = QStringLiteral("udp local %1:%2")
                         .arg(peer.session->link->localAddress())
                         .arg(peer.session->link->localPort());
        record(event);
    }
    startSession(*peer.session);
    return peer;
}

void CaptureEngine::relayDatagram(UdpPeer &peer, const QByteArray &bytes)
{
    try {
        if (!peer.relay) {
            peer.relay = new DatagramSocket(this);
            UdpPeer *owner = &peer; // the socket goes before its peer does
            connect(peer.relay, &DatagramSocket::received, this,
                    [this, owner](const QByteArray &answer) { runHandler([&] { udpAnswerArrival(*owner, answer); }); });
            connect(peer.relay, &DatagramSocket::failed, this, [this, owner](int, const QString &description) {
                runHandler([&] { udpRelayFailed(*owner, description); });
            });
            peer.relay->connectTo(m_relayAddress, quint16(m_sckOUT->remotePort()));
        }
        peer.relay->send(bytes);
    } catch (const PlatformError &error) {
        udpRelayFailed(peer, error.description());
    }
}

void CaptureEngine::udpAnswerArrival(UdpPeer &peer, const QByteArray &bytes)
{
    TrackerSession &tracker = *peer.session;
    const Capture capture = captureChunk([&] { return bytes; }, m_sckOUT->remotePort(),
                                         tracker.tag(CaptureFiles::ReturnAsciiTag),
                                         tracker.tag(CaptureFiles::ReturnHexTag));
    if (m_recorder) {
        SessionEvent event = sessionEvent(SessionEvent::Kind::Out, capture.timeUs);
        event.number = capture.number;
        event.peer = tracker.peer();
        event.port = m_sckOUT->remotePort();
        event.length = bytes.size();
        event.file = capture.file;
        event.note = QStringLiteral("udp from %1:%2 local %3:%4")
                         .arg(m_relayAddress.toString())
                         .arg(m_sckOUT->remotePort())
                         .arg(peer.relay->localAddress().toString())
                         .arg(peer.relay->localPort());
        record(event);
    }
    if (!m_features.passAnswers)
        return;
    try {
        tracker.link->send(bytes);
    } catch (const PlatformError &) {
        return; // the peer cannot be reached: the answer stays captured only
    }
    tracker.row.bytesOut += bytes.size();
    if (!m_recorder)
        return;
    SessionEvent event = sessionEvent(SessionEvent::Kind::Pass, sessionClockUs());
    event.number = capture.number;
    event.peer = tracker.peer();
    event.port = m_sckListen->localPort();
    event.length = bytes.size();
    event.file = capture.file;
    event.note = QStringLiteral("udp");
    record(event);
}

void CaptureEngine::udpRelayFailed(UdpPeer &peer, const QString &description)
{
    if (peer.relayFailed)
        return;
    peer.relayFailed = true;
    m_controls.appendToLog(QStringLiteral("OUT datagrams of tracker %1 to %2:%3: %4.\r\n")
                               .arg(peer.session->name(), m_sckOUT->remoteHost())
                               .arg(m_sckOUT->remotePort())
                               .arg(description));
}

void CaptureEngine::forgetUdpPeer(const QString &key)
{
    const auto found = m_udpPeers.find(key);
    if (found == m_udpPeers.end())
        return;
    std::unique_ptr<UdpPeer> peer = std::move(found->second);
    m_udpPeers.erase(found);
    m_controls.appendToLog(QStringLiteral("Tracker ") + key + QStringLiteral(" over UDP went quiet.\r\n"));
    if (m_recorder) {
        SessionEvent event = sessionEvent(SessionEvent::Kind::UdpQuiet, sessionClockUs());
        event.peer = key;
        event.port = m_sckListen->localPort();
        event.note = QStringLiteral("udp");
        record(event);
    }
    endSession(std::move(peer->session));
    // Their own signals may be on the way out: they go once those are done, heard by nobody.
    peer->idle->disconnect(this);
    peer->idle->deleteLater();
    if (peer->relay) {
        peer->relay->disconnect(this);
        peer->relay->deleteLater();
    }
}
